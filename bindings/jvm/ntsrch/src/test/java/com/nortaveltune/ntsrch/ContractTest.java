// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.fail;

import com.fasterxml.jackson.databind.JsonNode;
import com.fasterxml.jackson.databind.ObjectMapper;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Iterator;
import java.util.List;
import java.util.Set;
import java.util.stream.Stream;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;

/** Every row of bindings/contract/cases.json through this binding. */
class ContractTest {
    /** What Java's API can express; rows needing anything else are skipped, saying what. */
    private static final Set<String> CAN = Set.of("utf16");

    @TestFactory
    Stream<DynamicTest> cases() throws IOException {
        JsonNode root = new ObjectMapper().readTree(new File(System.getProperty("ntsrch.cases")));
        List<DynamicTest> tests = new ArrayList<>();
        for (JsonNode row : root.get("cases")) {
            tests.add(DynamicTest.dynamicTest(row.get("name").asText(), () -> run(row)));
        }
        if (tests.isEmpty()) {
            fail("the case table has no rows");
        }
        return tests.stream();
    }

    private static void run(JsonNode row) {
        Set<String> lacking = new java.util.LinkedHashSet<>();
        for (JsonNode n : row.path("needs")) {
            if (!CAN.contains(n.asText())) {
                lacking.add(n.asText());
            }
        }
        JsonNode args = row.path("args");
        for (Iterator<JsonNode> it = args.elements(); it.hasNext();) {
            JsonNode a = it.next();
            if (a.has("value") || a.has("host")) {
                lacking.add(a.has("value") ? "json_value" : "dynamic_types");
            }
        }
        if (args.has("options")) {
            lacking.add("options_object");
        }
        String output = row.path("output").asText("string");
        if (output.equals("value")) {
            lacking.add("value_output");
        }
        if (!lacking.isEmpty()) {
            // On standard output too: the stage's summary shows a skip's last output line.
            String why = "Java lacks " + String.join(", ", lacking);
            System.out.println(why);
            Assumptions.abort(why);
        }

        Ntsrch lib = TestModule.get();
        boolean bytes = output.equals("bytes");
        Callable call;
        switch (row.get("call").asText()) {
            case "build_search_url": {
                Text q = text(args, "query");
                Text b = text(args, "base_url");
                call = () -> bytes ? lib.buildSearchUrlBytes(q, b) : lib.buildSearchUrl(q, b);
                break;
            }
            case "filter_and_sort_tracks": {
                Text t = text(args, "tracks");
                call = () -> {
                    FilterOptions.Builder o = FilterOptions.builder().query(text(args, "query"))
                            .downloaded(text(args, "downloaded"))
                            .downloadedOnly(args.path("downloaded_only").path("bool").asBoolean(false));
                    if (args.has("sort")) {
                        o.sort(args.get("sort").get("int").asLong());
                    }
                    return bytes ? lib.filterAndSortTracksBytes(t, o.build()) : lib.filterAndSortTracks(t, o.build());
                };
                break;
            }
            case "normalize_unified_results": {
                Text u = text(args, "unified");
                call = () -> bytes ? lib.normalizeUnifiedResultsBytes(u) : lib.normalizeUnifiedResults(u);
                break;
            }
            default:
                throw new AssertionError("unknown call " + row.get("call"));
        }

        if (row.has("result")) {
            JsonNode result = row.get("result");
            Object got = call.run();
            if (result.has("bytes_hex")) {
                assertArrayEquals(hex(result.get("bytes_hex").asText()), (byte[]) got);
                return;
            }
            String want = result.get("text").asText();
            if (bytes) {
                assertArrayEquals(want.getBytes(StandardCharsets.UTF_8), (byte[]) got);
            } else {
                assertEquals(want, got);
            }
            return;
        }
        JsonNode err = row.get("error");
        String kind = err.get("kind").asText();
        switch (kind) {
            case "refused": {
                NtsrchException e = assertThrows(NtsrchException.class, call::run);
                assertEquals(err.get("function").asText(), e.function());
                assertEquals(err.get("message").asText(), e.lastError());
                break;
            }
            case "out_of_memory":
                assertThrows(OutOfMemoryError.class, call::run);
                break;
            case "type":
            case "value":
            case "range": {
                IllegalArgumentException e = assertThrows(IllegalArgumentException.class, call::run);
                String want = camel(err.get("param").asText()) + err.path("path").asText("");
                if (err.has("message")) {
                    want += ": " + err.get("message").asText();
                    assertEquals(want, e.getMessage());
                } else if (!e.getMessage().startsWith(want + ": ")) {
                    fail("message does not name " + want + ": " + e.getMessage());
                }
                break;
            }
            default:
                throw new AssertionError("unknown error kind " + kind);
        }
    }

    interface Callable {
        Object run();
    }

    private static Text text(JsonNode args, String name) {
        JsonNode a = args.get(name);
        if (a == null || a.isNull()) {
            return null;
        }
        if (a.has("text")) {
            return Text.of(a.get("text").asText());
        }
        if (a.has("bytes_hex")) {
            String hex = a.get("bytes_hex").asText();
            byte[] b = new byte[hex.length() / 2];
            for (int i = 0; i < b.length; i++) {
                b[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
            }
            return Text.of(b);
        }
        if (a.has("utf16")) {
            StringBuilder sb = new StringBuilder();
            for (JsonNode u : a.get("utf16")) {
                sb.append((char) u.asInt());
            }
            return Text.of(sb.toString());
        }
        throw new AssertionError(name + ": no text form in " + a);
    }

    /** base_url is baseUrl in Java. */
    static String camel(String snake) {
        StringBuilder sb = new StringBuilder();
        boolean up = false;
        for (char c : snake.toCharArray()) {
            if (c == '_') {
                up = true;
            } else {
                sb.append(up ? Character.toUpperCase(c) : c);
                up = false;
            }
        }
        return sb.toString();
    }

    private static byte[] hex(String h) {
        byte[] out = new byte[h.length() / 2];
        for (int i = 0; i < out.length; i++) {
            out[i] = (byte) Integer.parseInt(h.substring(2 * i, 2 * i + 2), 16);
        }
        return out;
    }
}
