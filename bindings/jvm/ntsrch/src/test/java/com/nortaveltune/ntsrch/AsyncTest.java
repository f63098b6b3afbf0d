// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotSame;
import static org.junit.jupiter.api.Assertions.assertThrows;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.Executor;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Test;

class AsyncTest {
    private static final String BIG = Tracks.json(100_000, 7, new ArrayList<>());
    private static final FilterOptions BY_TITLE = FilterOptions.builder().query("love").sort(SortMode.TITLE_ASC).build();

    /** An executor that starts its task only when the test opens the gate, on its own thread. */
    private static final class Gated implements Executor {
        final CountDownLatch gate = new CountDownLatch(1);
        final AtomicReference<Thread> ran = new AtomicReference<>();

        @Override
        public void execute(Runnable task) {
            Thread t = new Thread(() -> {
                ran.set(Thread.currentThread());
                try {
                    gate.await();
                } catch (InterruptedException e) {
                    Thread.currentThread().interrupt();
                    return;
                }
                task.run();
            });
            t.setDaemon(true);
            t.start();
        }
    }

    @Test
    void aHundredThousandTrackCallLeavesTheCallerFree() throws Exception {
        Ntsrch lib = TestModule.get();
        Gated gated = new Gated();
        // Nothing of the call (not even the UTF-8 copy) happens before the method returns.
        CompletableFuture<String> f = lib.filterAndSortTracksAsync(Text.of(BIG), BY_TITLE, gated);
        assertFalse(f.isDone());
        // The calling thread goes on with other work, the module included, meanwhile.
        assertEquals("https://h/search/api?q=x&format=json", lib.buildSearchUrl("x", "https://h"));
        gated.gate.countDown();
        String got = f.get();
        assertNotSame(Thread.currentThread(), gated.ran.get());
        assertEquals(lib.filterAndSortTracks(BIG, BY_TITLE), got);
    }

    @Test
    void theDefaultPoolGivesTheSameResults() throws Exception {
        Ntsrch lib = TestModule.get();
        byte[] bytes = BIG.getBytes(StandardCharsets.UTF_8);
        CompletableFuture<String> s = lib.filterAndSortTracksAsync(BIG, BY_TITLE);
        CompletableFuture<byte[]> b = lib.filterAndSortTracksBytesAsync(Text.of(bytes), BY_TITLE, null);
        CompletableFuture<String> url = lib.buildSearchUrlAsync("a b", null);
        CompletableFuture<String> norm = lib.normalizeUnifiedResultsAsync("{\"tracks\":[1]}");
        String want = lib.filterAndSortTracks(BIG, BY_TITLE);
        assertEquals(want, s.get());
        assertArrayEquals(want.getBytes(StandardCharsets.UTF_8), b.get());
        assertEquals(lib.buildSearchUrl("a b"), url.get());
        assertEquals("{\"localCount\":1,\"catalogueCount\":0,\"local\":[1],\"catalogue\":[]}", norm.get());
    }

    @Test
    void failuresArriveThroughTheFutureUnwrapped() {
        Ntsrch lib = TestModule.get();
        ExecutionException refused = assertThrows(ExecutionException.class,
                () -> lib.filterAndSortTracksAsync("{}", null).get());
        NtsrchException e = assertInstanceOf(NtsrchException.class, refused.getCause());
        assertEquals("tracks_json must be array", e.lastError());
        ExecutionException bad = assertThrows(ExecutionException.class,
                () -> lib.buildSearchUrlAsync("a\0", null).get());
        assertEquals("query: embedded NUL at byte 1",
                assertInstanceOf(IllegalArgumentException.class, bad.getCause()).getMessage());
        Executor refusing = task -> {
            throw new java.util.concurrent.RejectedExecutionException("full");
        };
        ExecutionException rejected = assertThrows(ExecutionException.class,
                () -> lib.normalizeUnifiedResultsAsync(Text.of("{}"), refusing).get());
        assertInstanceOf(java.util.concurrent.RejectedExecutionException.class, rejected.getCause());
    }
}
