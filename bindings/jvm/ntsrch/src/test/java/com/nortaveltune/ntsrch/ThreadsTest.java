// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import static org.junit.jupiter.api.Assertions.assertEquals;

import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.Test;

/** Each thread reads its own last error while the others fail differently at the same time. */
class ThreadsTest {
    private static final int THREADS = 8;
    private static final int CALLS = 2000;

    @Test
    void eachThreadSeesItsOwnRefusal() throws Exception {
        Ntsrch lib = TestModule.get();
        CyclicBarrier start = new CyclicBarrier(THREADS);
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        try {
            List<Future<Integer>> done = new ArrayList<>();
            for (int t = 0; t < THREADS; t++) {
                final int me = t;
                done.add(pool.submit(() -> {
                    start.await();
                    int checked = 0;
                    for (int i = 0; i < CALLS; i++) {
                        // Neighbouring threads refuse with different texts; a success in between
                        // must clear nothing another thread is about to read.
                        switch ((me + i) % 4) {
                            case 0:
                                expect(() -> lib.buildSearchUrl(""), "ntsrch_build_search_url", "empty query");
                                break;
                            case 1:
                                expect(() -> lib.filterAndSortTracks("{}"), "ntsrch_filter_and_sort_tracks_json",
                                        "tracks_json must be array");
                                break;
                            case 2:
                                expect(() -> lib.normalizeUnifiedResults("[1"), "ntsrch_normalize_unified_results_json",
                                        "invalid search json");
                                break;
                            default:
                                assertEquals("https://h/search/api?q=t" + me + "&format=json",
                                        lib.buildSearchUrl("t" + me, "https://h"));
                        }
                        checked++;
                    }
                    return checked;
                }));
            }
            for (Future<Integer> f : done) {
                assertEquals(CALLS, f.get());
            }
        } finally {
            pool.shutdownNow();
        }
    }

    private static void expect(Runnable call, String function, String text) {
        try {
            call.run();
        } catch (NtsrchException e) {
            assertEquals(function, e.function());
            assertEquals(text, e.lastError());
            return;
        }
        throw new AssertionError(function + " did not refuse");
    }
}
