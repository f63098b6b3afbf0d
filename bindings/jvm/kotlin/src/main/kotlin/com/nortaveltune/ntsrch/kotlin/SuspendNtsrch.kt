// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch.kotlin

import com.nortaveltune.ntsrch.FilterOptions
import com.nortaveltune.ntsrch.Ntsrch
import com.nortaveltune.ntsrch.SortMode
import com.nortaveltune.ntsrch.Text
import kotlinx.coroutines.CoroutineDispatcher
import kotlinx.coroutines.Dispatchers
import kotlinx.coroutines.withContext

/**
 * The binding's calls as `suspend` functions: each runs the blocking call (the C call and its
 * last-error read together) on [dispatcher], so a coroutine on the main thread only waits.
 * Errors are the Java binding's: NtsrchException, OutOfMemoryError, IllegalArgumentException.
 */
class SuspendNtsrch(
    val ntsrch: Ntsrch = Ntsrch.load(),
    private val dispatcher: CoroutineDispatcher = Dispatchers.IO,
) {
    suspend fun buildSearchUrl(query: String?, baseUrl: String? = null): String =
        withContext(dispatcher) { ntsrch.buildSearchUrl(query, baseUrl) }

    suspend fun filterAndSortTracks(
        tracksJson: String?,
        query: String? = null,
        downloadedOnly: Boolean = false,
        downloaded: String? = null,
        sort: SortMode = SortMode.NONE,
    ): String = withContext(dispatcher) {
        ntsrch.filterAndSortTracks(tracksJson, options(query, downloadedOnly, sort).downloaded(downloaded).build())
    }

    /** Bytes in, bytes out: UTF-8 both ways, no String made. */
    suspend fun filterAndSortTracksBytes(
        tracksJson: ByteArray?,
        query: String? = null,
        downloadedOnly: Boolean = false,
        downloaded: ByteArray? = null,
        sort: SortMode = SortMode.NONE,
    ): ByteArray = withContext(dispatcher) {
        ntsrch.filterAndSortTracksBytes(tracksJson, options(query, downloadedOnly, sort).downloaded(downloaded).build())
    }

    suspend fun normalizeUnifiedResults(json: String?): String =
        withContext(dispatcher) { ntsrch.normalizeUnifiedResults(json) }

    suspend fun normalizeUnifiedResultsBytes(json: ByteArray?): ByteArray =
        withContext(dispatcher) { ntsrch.normalizeUnifiedResultsBytes(json) }

    fun version(): String = ntsrch.version()

    fun abiVersion(): Int = ntsrch.abiVersion()

    suspend fun selftest(): Int = withContext(dispatcher) { ntsrch.selftest() }

    // The downloaded list, String or bytes, is the caller's to add.
    private fun options(query: String?, downloadedOnly: Boolean, sort: SortMode) =
        FilterOptions.builder().query(query).downloadedOnly(downloadedOnly).sort(sort)
}

/** This binding's calls as suspend functions on [dispatcher]. */
fun Ntsrch.suspending(dispatcher: CoroutineDispatcher = Dispatchers.IO): SuspendNtsrch = SuspendNtsrch(this, dispatcher)

/** Text for the calls that take [Text]. */
fun String.asText(): Text = Text.of(this)

fun ByteArray.asText(): Text = Text.of(this)
