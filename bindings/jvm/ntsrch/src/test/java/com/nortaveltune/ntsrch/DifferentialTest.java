// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Stream;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The binding against the C tool (build/ntsrch) on the same generated lists, in every order. */
class DifferentialTest {
    private static final String[] ORDERS = {"none", "title", "artist", "newest", "shortest", "downloaded"};

    @TempDir
    Path dir;

    static Stream<Arguments> runs() {
        List<Arguments> out = new ArrayList<>();
        // ASCII only: the tool's arguments pass through the platform charset.
        String[] queries = {null, "love", "  LOVE ", "a", "zzz"};
        for (int sort = 0; sort < ORDERS.length; sort++) {
            for (int n : new int[] {0, 1, 7, 300}) {
                out.add(Arguments.of(sort, n, queries[(sort + n) % queries.length], (sort + n) % 2 == 0));
            }
        }
        return out.stream();
    }

    @ParameterizedTest(name = "sort {0}, {1} tracks, query {2}, downloaded only {3}")
    @MethodSource("runs")
    void sameAsTheTool(int sort, int n, String query, boolean downloadedOnly) throws Exception {
        List<String> urls = new ArrayList<>();
        String tracks = Tracks.json(n, 1000L * sort + n, urls);
        String downloaded = Tracks.downloaded(urls, n);
        Path tf = Files.write(dir.resolve("tracks.json"), tracks.getBytes(StandardCharsets.UTF_8));
        Path df = Files.write(dir.resolve("downloaded.json"), downloaded.getBytes(StandardCharsets.UTF_8));
        List<String> cmd = new ArrayList<>(List.of(System.getProperty("ntsrch.tool"),
                "--module", TestModule.path().toString(), "filter", tf.toString(),
                "--downloaded", df.toString(), "--sort", ORDERS[sort]));
        if (query != null) {
            cmd.add("--query");
            cmd.add(query);
        }
        if (downloadedOnly) {
            cmd.add("--downloaded-only");
        }
        byte[] want = tool(cmd);

        FilterOptions o = FilterOptions.builder().query(query).downloaded(downloaded)
                .downloadedOnly(downloadedOnly).sort(SortMode.values()[sort]).build();
        Ntsrch lib = TestModule.get();
        assertEquals(new String(want, StandardCharsets.UTF_8), lib.filterAndSortTracks(tracks, o) + "\n");
        byte[] got = lib.filterAndSortTracksBytes(Text.of(tracks.getBytes(StandardCharsets.UTF_8)), o);
        assertArrayEquals(want, (new String(got, StandardCharsets.UTF_8) + "\n").getBytes(StandardCharsets.UTF_8));
    }

    private static byte[] tool(List<String> cmd) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(cmd).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        byte[] out = p.getInputStream().readAllBytes();
        if (!p.waitFor(5, TimeUnit.MINUTES) || p.exitValue() != 0) {
            throw new AssertionError(String.join(" ", cmd) + " failed");
        }
        return out;
    }
}
