// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.function.Supplier;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** What the case table cannot say in Java terms: buffers, surrogate pairs, offsets past multi-byte text. */
class InputRulesTest {
    private static byte[] utf8(String s) {
        return s.getBytes(StandardCharsets.UTF_8);
    }

    private static ByteBuffer direct(String s, int pad) {
        byte[] b = utf8(s);
        ByteBuffer d = ByteBuffer.allocateDirect(b.length + 2 * pad);
        d.position(pad);
        d.put(b);
        d.position(pad).limit(pad + b.length);
        return d;
    }

    static Stream<Arguments> refusals() {
        Ntsrch lib = TestModule.get();
        FilterOptions none = FilterOptions.builder().build();
        return Stream.of(
                Arguments.of("NUL after multi-byte text counts bytes", "query: embedded NUL at byte 2",
                        (Supplier<?>) () -> lib.buildSearchUrl("é\0", null)),
                Arguments.of("lone high surrogate", "query: not encodable as UTF-8 at character 1",
                        (Supplier<?>) () -> lib.buildSearchUrl("a\ud800b", null)),
                Arguments.of("lone low surrogate after a pair counts the pair once", "baseUrl: not encodable as UTF-8 at character 1",
                        (Supplier<?>) () -> lib.buildSearchUrl("q", "\ud83d\ude00\ude00")),
                Arguments.of("surrogate checked before NUL", "tracks: not encodable as UTF-8 at character 2",
                        (Supplier<?>) () -> lib.filterAndSortTracks("\0?\udfff", none)),
                Arguments.of("NUL in a heap buffer slice, offset from its position", "unified: embedded NUL at byte 1",
                        (Supplier<?>) () -> lib.normalizeUnifiedResults(
                                Text.of(ByteBuffer.wrap(utf8("\0{\0}")).position(1)))),
                Arguments.of("NUL in a direct buffer", "unified: embedded NUL at byte 2",
                        (Supplier<?>) () -> lib.normalizeUnifiedResults(Text.of(direct("{}\0", 3)))),
                Arguments.of("NUL in downloaded bytes", "downloaded: embedded NUL at byte 0",
                        (Supplier<?>) () -> lib.filterAndSortTracks("[]",
                                FilterOptions.builder().downloaded(new byte[] {0}).build())),
                Arguments.of("invalid UTF-8 base as bytes for a String result", "baseUrl: not valid UTF-8 at byte 2",
                        (Supplier<?>) () -> lib.buildSearchUrl(Text.of("q"), Text.of(new byte[] {'h', 'i', (byte) 0xc3}))),
                Arguments.of("overlong UTF-8", "baseUrl: not valid UTF-8 at byte 0",
                        (Supplier<?>) () -> lib.buildSearchUrl(Text.of("q"), Text.of(new byte[] {(byte) 0xc0, (byte) 0xaf}))),
                Arguments.of("encoded surrogate", "baseUrl: not valid UTF-8 at byte 1",
                        (Supplier<?>) () -> lib.buildSearchUrl(Text.of("q"),
                                Text.of(new byte[] {'x', (byte) 0xed, (byte) 0xa0, (byte) 0x80}))),
                Arguments.of("base before query, as the C signature orders them", "baseUrl: embedded NUL at byte 0",
                        (Supplier<?>) () -> lib.buildSearchUrl("q\0", "\0")),
                Arguments.of("base bytes before query bytes", "baseUrl: embedded NUL at byte 1",
                        (Supplier<?>) () -> lib.buildSearchUrlBytes(Text.of(new byte[] {0}), Text.of(new byte[] {'h', 0}))),
                Arguments.of("sort below C int", "sort: -2147483649 is outside the C int range [-2147483648, 2147483647]",
                        (Supplier<?>) () -> lib.filterAndSortTracks("[]", FilterOptions.builder().sort(-2147483649L).build())),
                Arguments.of("text parameters before sort", "downloaded: embedded NUL at byte 0",
                        (Supplier<?>) () -> lib.filterAndSortTracks("[]",
                                FilterOptions.builder().sort(1L << 40).downloaded("\0").build())),
                Arguments.of("tracks before query", "tracks: embedded NUL at byte 1",
                        (Supplier<?>) () -> lib.filterAndSortTracks("[\0", FilterOptions.builder().query("\0").build())));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusals")
    void refused(String what, String message, Supplier<?> call) {
        assertEquals(message, assertThrows(IllegalArgumentException.class, call::get).getMessage());
    }

    @Test
    void everyInputFormGivesTheSameResult() {
        Ntsrch lib = TestModule.get();
        String unified = "{\"tracks\":[{\"title\":\"Été 😀\"}],\"catalogue\":{\"albums\":[2],\"artists\":[3]}}";
        String want = "{\"localCount\":1,\"catalogueCount\":2,\"local\":[{\"title\":\"Été 😀\"}],\"catalogue\":[2,3]}";
        assertEquals(want, lib.normalizeUnifiedResults(unified));
        assertEquals(want, lib.normalizeUnifiedResults(utf8(unified)));
        assertEquals(want, lib.normalizeUnifiedResults(Text.of(direct(unified, 5))));
        ByteBuffer heap = ByteBuffer.wrap(utf8("xx" + unified + "yy"), 2, utf8(unified).length);
        assertEquals(want, lib.normalizeUnifiedResults(Text.of(heap.slice())));
        assertEquals(2, heap.position(), "the caller's buffer position is left alone");
        assertArrayEquals(utf8(want), lib.normalizeUnifiedResultsBytes(Text.of(direct(unified, 0))));

        String tracks = "[{\"title\":\"b 😀\"},{\"title\":\"A é\"}]";
        FilterOptions byTitle = FilterOptions.builder().sort(SortMode.TITLE_ASC).build();
        String sorted = "[{\"title\":\"A é\"},{\"title\":\"b 😀\"}]";
        assertEquals(sorted, lib.filterAndSortTracks(tracks, byTitle));
        assertEquals(sorted, lib.filterAndSortTracks(utf8(tracks), byTitle));
        assertEquals(sorted, lib.filterAndSortTracks(Text.of(direct(tracks, 1)), byTitle));
        assertArrayEquals(utf8(sorted), lib.filterAndSortTracksBytes(utf8(tracks), byTitle));
        // Raw bytes of a base go through unchanged when bytes come out.
        byte[] tail = utf8("/search/api?q=%F0%9F%98%80&format=json");
        byte[] raw = new byte[2 + tail.length];
        raw[0] = 'h';
        raw[1] = (byte) 0xff;
        System.arraycopy(tail, 0, raw, 2, tail.length);
        assertArrayEquals(raw, lib.buildSearchUrlBytes(Text.of("😀"), Text.of(new byte[] {'h', (byte) 0xff})));
    }

    @Test
    void moduleFacts() {
        Ntsrch lib = TestModule.get();
        assertEquals(Ntsrch.ABI_VERSION, lib.abiVersion());
        assertTrue(lib.version().matches("\\d+\\.\\d+\\.\\d+"), lib.version());
        assertEquals(0, lib.selftest());
    }

    @Test
    void aGivenPathIsTheOnlyPlaceTried() {
        ModuleLoadException e = assertThrows(ModuleLoadException.class,
                () -> Ntsrch.load(Path.of("no-such-dir", Ntsrch.MODULE_FILE)));
        assertEquals(1, e.tried().size(), e.getMessage());
        assertTrue(e.tried().get(0).contains("no-such-dir"), e.getMessage());
    }
}
