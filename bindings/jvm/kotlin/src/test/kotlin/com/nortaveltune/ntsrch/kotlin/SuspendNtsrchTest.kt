// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch.kotlin

import com.nortaveltune.ntsrch.Ntsrch
import com.nortaveltune.ntsrch.NtsrchException
import com.nortaveltune.ntsrch.SortMode
import java.nio.file.Paths
import java.util.concurrent.Executor
import java.util.concurrent.Executors
import java.util.concurrent.atomic.AtomicInteger
import kotlinx.coroutines.asCoroutineDispatcher
import kotlinx.coroutines.async
import kotlinx.coroutines.runBlocking
import org.junit.jupiter.api.Assertions.assertArrayEquals
import org.junit.jupiter.api.Assertions.assertEquals
import org.junit.jupiter.api.Assertions.assertTrue
import org.junit.jupiter.api.Test
import org.junit.jupiter.api.assertThrows

class SuspendNtsrchTest {
    private val lib: Ntsrch = Ntsrch.load(
        Paths.get(System.getProperty("ntsrch.natives"), com.sun.jna.Platform.RESOURCE_PREFIX, Ntsrch.MODULE_FILE),
    )
    private val tracks = """[{"title":"Zeta","streamURL":"u1"},{"title":"love é","streamURL":"u2"}]"""

    @Test
    fun callsRunOnTheDispatcherAndGiveTheJavaResults() {
        val pool = Executors.newSingleThreadExecutor { r -> Thread(r, "ntsrch-test-io") }
        val dispatched = AtomicInteger()
        val counting = Executor { r ->
            dispatched.incrementAndGet()
            pool.execute(r)
        }
        try {
            val k = lib.suspending(counting.asCoroutineDispatcher())
            runBlocking {
                val sorted = async { k.filterAndSortTracks(tracks, sort = SortMode.TITLE_ASC) }
                assertEquals("""[{"title":"love é","streamURL":"u2"},{"title":"Zeta","streamURL":"u1"}]""", sorted.await())
                assertEquals(
                    """[{"title":"love é","streamURL":"u2"}]""",
                    k.filterAndSortTracks(tracks, query = "LOVE", downloadedOnly = true, downloaded = """["u2"]"""),
                )
                assertArrayEquals(
                    "[{\"title\":\"Zeta\",\"streamURL\":\"u1\"}]".toByteArray(),
                    k.filterAndSortTracksBytes(tracks.toByteArray(), query = "zeta"),
                )
                assertEquals(lib.buildSearchUrl("a b"), k.buildSearchUrl("a b"))
                assertEquals(
                    """{"localCount":0,"catalogueCount":0,"local":[],"catalogue":[]}""",
                    k.normalizeUnifiedResults("{}"),
                )
                assertEquals(0, k.selftest())
            }
            // Each of the six calls went to the dispatcher (and back to the caller after).
            assertTrue(dispatched.get() >= 6, "dispatched ${dispatched.get()} times")
        } finally {
            pool.shutdownNow()
        }
    }

    @Test
    fun refusalsAreTheJavaExceptions() {
        val k = lib.suspending()
        val e = assertThrows<NtsrchException> { runBlocking { k.buildSearchUrl("   ") } }
        assertEquals("empty query", e.lastError())
        val bad = assertThrows<IllegalArgumentException> { runBlocking { k.normalizeUnifiedResults("{\u0000}") } }
        assertEquals("unified: embedded NUL at byte 1", bad.message)
    }
}
