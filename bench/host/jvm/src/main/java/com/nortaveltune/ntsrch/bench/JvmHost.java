// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch.bench;

import com.fasterxml.jackson.databind.JsonNode;
import com.fasterxml.jackson.databind.ObjectMapper;
import com.fasterxml.jackson.databind.node.ArrayNode;
import com.fasterxml.jackson.databind.node.JsonNodeFactory;
import com.fasterxml.jackson.databind.node.ObjectNode;
import com.nortaveltune.ntsrch.FilterOptions;
import com.nortaveltune.ntsrch.Ntsrch;
import com.nortaveltune.ntsrch.SortMode;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.Callable;

/**
 * JVM host bench: the binding against Jackson doing the same job from the same input, String
 * to String and bytes to bytes, at 100, 10k and 100k tracks, in one warmed JVM.
 *
 * <p>Jackson is readTree, a filter (title, else artist, contains the query, ASCII case folded
 * only), a stable sort on the module's keys and a compact write; bytes to bytes reads and
 * writes UTF-8 bytes directly. Each case's four results are checked equal first, each way is
 * warmed, then the ways alternate round after round and the medians are compared.
 *
 * <p>Usage: JvmHost [--data DIR] [--rounds N] [--sizes N,N,...]; the module is
 * $NTSRCH_MODULE (or -Dntsrch.module), DIR holds bench/host/gen_data.py's files (written to a
 * temporary folder when not given).
 */
public final class JvmHost {
    private static final double GOAL_STR = 2.0;
    private static final double GOAL_BYTES = 3.0;
    private static final int GOAL_SIZE = 100_000;
    private static final ObjectMapper JSON = new ObjectMapper();

    private JvmHost() {
    }

    /** One case: name, query, sort (null: normalize). */
    private static final Object[][] CASES = {
        {"all tracks", null, SortMode.NONE},
        {"filter \"love\"", "love", SortMode.NONE},
        {"by title", null, SortMode.TITLE_ASC},
        {"\"love\" by title", "love", SortMode.TITLE_ASC},
        {"newest", null, SortMode.NEWEST_FIRST},
        {"normalize", null, null},
    };

    static String folded(JsonNode t, String key) {
        JsonNode v = t.get(key);
        if (v == null || !v.isTextual()) {
            return "";
        }
        String s = v.textValue();
        char[] c = null;
        for (int i = 0; i < s.length(); i++) {
            char ch = s.charAt(i);
            if (ch >= 'A' && ch <= 'Z') {
                if (c == null) {
                    c = s.toCharArray();
                }
                c[i] = (char) (ch + 32);
            }
        }
        return c == null ? s : new String(c);
    }

    static double published(JsonNode t) {
        JsonNode v = t.get("publishTimestamp");
        return v != null && v.isNumber() ? v.doubleValue() : 0;
    }

    static JsonNode jacksonFilter(JsonNode tracks, String query, SortMode sort) {
        String q = query == null ? "" : query.trim().toLowerCase(java.util.Locale.ROOT);
        List<JsonNode> kept = new ArrayList<>();
        for (JsonNode t : tracks) {
            if (t.isObject() && (q.isEmpty() || folded(t, "title").contains(q) || folded(t, "artist").contains(q))) {
                kept.add(t);
            }
        }
        if (sort == SortMode.TITLE_ASC) {
            // Keys computed once, as a decorate-sort would: List.sort is stable.
            Map<JsonNode, String> keys = new java.util.IdentityHashMap<>();
            for (JsonNode t : kept) {
                keys.put(t, folded(t, "title"));
            }
            kept.sort(Comparator.comparing(keys::get));
        } else if (sort == SortMode.NEWEST_FIRST) {
            kept.sort(Comparator.comparingDouble(t -> -published(t)));
        }
        ArrayNode out = JsonNodeFactory.instance.arrayNode(kept.size());
        out.addAll(kept);
        return out;
    }

    static JsonNode jacksonNormalize(JsonNode unified) {
        JsonNode local = unified.path("tracks");
        ArrayNode found = JsonNodeFactory.instance.arrayNode();
        JsonNode cat = unified.path("catalogue");
        for (String key : new String[] {"albums", "artists"}) {
            if (cat.path(key).isArray()) {
                found.addAll((ArrayNode) cat.get(key));
            }
        }
        ObjectNode out = JsonNodeFactory.instance.objectNode();
        out.put("localCount", local.isArray() ? local.size() : 0);
        out.put("catalogueCount", found.size());
        out.set("local", local.isArray() ? local : JsonNodeFactory.instance.arrayNode());
        out.set("catalogue", found);
        return out;
    }

    private static Map<String, Callable<Object>> ways(Ntsrch lib, String text, byte[] data, String query, SortMode sort) {
        Map<String, Callable<Object>> w = new LinkedHashMap<>();
        if (sort == null) {
            w.put("binding str", () -> lib.normalizeUnifiedResults(text));
            w.put("jackson str", () -> JSON.writeValueAsString(jacksonNormalize(JSON.readTree(text))));
            w.put("binding bytes", () -> lib.normalizeUnifiedResultsBytes(data));
            w.put("jackson bytes", () -> JSON.writeValueAsBytes(jacksonNormalize(JSON.readTree(data))));
            return w;
        }
        FilterOptions o = FilterOptions.builder().query(query).sort(sort).build();
        w.put("binding str", () -> lib.filterAndSortTracks(text, o));
        w.put("jackson str", () -> JSON.writeValueAsString(jacksonFilter(JSON.readTree(text), query, sort)));
        w.put("binding bytes", () -> lib.filterAndSortTracksBytes(data, o));
        w.put("jackson bytes", () -> JSON.writeValueAsBytes(jacksonFilter(JSON.readTree(data), query, sort)));
        return w;
    }

    private static void checkSame(String c, Map<String, Object> r) throws IOException {
        String s = (String) r.get("binding str");
        if (!Arrays.equals((byte[]) r.get("binding bytes"), s.getBytes(StandardCharsets.UTF_8))
                || !Arrays.equals((byte[]) r.get("jackson bytes"), ((String) r.get("jackson str")).getBytes(StandardCharsets.UTF_8))) {
            throw new IllegalStateException(c + ": String and bytes results differ");
        }
        if (!s.equals(r.get("jackson str")) && !JSON.readTree(s).equals(JSON.readTree((String) r.get("jackson str")))) {
            throw new IllegalStateException(c + ": the binding and Jackson disagree");
        }
    }

    private static double timed(Callable<Object> f, int repeat) throws Exception {
        long t0 = System.nanoTime();
        for (int i = 0; i < repeat; i++) {
            f.call();
        }
        return (System.nanoTime() - t0) / 1e9 / repeat;
    }

    private static Map<String, Double> measure(Map<String, Callable<Object>> fns, int rounds) throws Exception {
        Map<String, Integer> repeat = new LinkedHashMap<>();
        for (Map.Entry<String, Callable<Object>> e : fns.entrySet()) {
            // Warm until the JIT has settled (a quarter second of calls, at least 5), then size a
            // sample to 50 ms or more.
            long end = System.nanoTime() + 250_000_000L;
            int n = 0;
            while (n < 5 || System.nanoTime() < end) {
                e.getValue().call();
                n++;
            }
            repeat.put(e.getKey(), Math.max(1, (int) (0.05 / Math.max(timed(e.getValue(), 1), 1e-7))));
        }
        Map<String, double[]> samples = new LinkedHashMap<>();
        for (String k : fns.keySet()) {
            samples.put(k, new double[rounds]);
        }
        for (int r = 0; r < rounds; r++) {
            for (Map.Entry<String, Callable<Object>> e : fns.entrySet()) {
                System.gc();
                samples.get(e.getKey())[r] = timed(e.getValue(), repeat.get(e.getKey()));
            }
        }
        Map<String, Double> med = new LinkedHashMap<>();
        for (Map.Entry<String, double[]> e : samples.entrySet()) {
            double[] v = e.getValue().clone();
            Arrays.sort(v);
            med.put(e.getKey(), v.length % 2 == 1 ? v[v.length / 2] : (v[v.length / 2 - 1] + v[v.length / 2]) / 2);
        }
        return med;
    }

    private static Path data(String given, int[] sizes) throws IOException, InterruptedException {
        Path dir = given != null ? Paths.get(given) : Files.createTempDirectory("ntsrch-jvmbench-");
        List<String> cmd = new ArrayList<>(List.of("python3",
                Paths.get(System.getProperty("ntsrch.bench.dir", "bench/host"), "gen_data.py").toString(), dir.toString()));
        for (int n : sizes) {
            if (!Files.isRegularFile(dir.resolve("tracks-" + n + ".json")) || !Files.isRegularFile(dir.resolve("unified-" + n + ".json"))) {
                cmd.add(String.valueOf(n));
            }
        }
        if (cmd.size() > 3 && new ProcessBuilder(cmd).inheritIO().start().waitFor() != 0) {
            throw new IllegalStateException("gen_data.py failed");
        }
        return dir;
    }

    public static void main(String[] args) throws Exception {
        String given = null;
        int rounds = 5;
        int[] sizes = {100, 10_000, 100_000};
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "--data":
                    given = args[++i];
                    break;
                case "--rounds":
                    rounds = Integer.parseInt(args[++i]);
                    break;
                case "--sizes":
                    sizes = Arrays.stream(args[++i].split(",")).mapToInt(Integer::parseInt).toArray();
                    break;
                default:
                    System.err.println("usage: JvmHost [--data DIR] [--rounds N] [--sizes N,N,...]");
                    System.exit(2);
            }
        }
        Ntsrch lib = Ntsrch.load();
        Path dir = data(given, sizes);
        List<Object[]> rows = new ArrayList<>();
        try {
            for (int n : sizes) {
                for (Object[] c : CASES) {
                    SortMode sort = (SortMode) c[2];
                    byte[] bytes = Files.readAllBytes(dir.resolve((sort == null ? "unified-" : "tracks-") + n + ".json"));
                    Map<String, Callable<Object>> fns = ways(lib, new String(bytes, StandardCharsets.UTF_8), bytes,
                            (String) c[1], sort);
                    Map<String, Object> results = new LinkedHashMap<>();
                    for (Map.Entry<String, Callable<Object>> e : fns.entrySet()) {
                        results.put(e.getKey(), e.getValue().call());
                    }
                    checkSame((String) c[0], results);
                    rows.add(new Object[] {n, c[0], measure(fns, rounds)});
                }
            }
        } finally {
            if (given == null) {
                try (var s = Files.list(dir)) {
                    s.forEach(p -> {
                        try {
                            Files.delete(p);
                        } catch (IOException e) {
                            throw new UncheckedIOException(e);
                        }
                    });
                }
                Files.delete(dir);
            }
        }
        System.out.printf("JVM host bench: ntsrch binding against Jackson %s on Java %s (%s), median of %d alternated rounds (ms)%n",
                com.fasterxml.jackson.databind.cfg.PackageVersion.VERSION, System.getProperty("java.version"),
                System.getProperty("java.vm.vendor"), rounds);
        System.out.println("module: " + lib.path());
        String head = String.format("%7s  %-16s%13s%9s%8s%16s%9s%8s  goal", "tracks", "case", "str: binding", "jackson",
                "ratio", "bytes: binding", "jackson", "ratio");
        System.out.println(head);
        System.out.println("-".repeat(head.length()));
        List<String> misses = new ArrayList<>();
        for (Object[] row : rows) {
            @SuppressWarnings("unchecked")
            Map<String, Double> t = (Map<String, Double>) row[2];
            double rs = t.get("jackson str") / t.get("binding str");
            double rb = t.get("jackson bytes") / t.get("binding bytes");
            String goal = "";
            if ((int) row[0] == GOAL_SIZE) {
                boolean ok = rs >= GOAL_STR && rb >= GOAL_BYTES;
                goal = ok ? "met" : "MISSED";
                if (!ok) {
                    misses.add((String) row[1]);
                }
            }
            System.out.printf("%7d  %-16s%13.2f%9.2f%7.1fx%16.2f%9.2f%7.1fx  %s%n", row[0], row[1],
                    t.get("binding str") * 1e3, t.get("jackson str") * 1e3, rs, t.get("binding bytes") * 1e3,
                    t.get("jackson bytes") * 1e3, rb, goal);
        }
        if (Arrays.stream(sizes).anyMatch(n -> n == GOAL_SIZE)) {
            System.out.printf("goals at %d tracks: str->str >= %.0fx, bytes->bytes >= %.0fx: %s%n", GOAL_SIZE, GOAL_STR,
                    GOAL_BYTES, misses.isEmpty() ? "met in every case" : "missed in " + String.join(", ", misses));
        }
    }
}
