// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import com.sun.jna.Function;
import com.sun.jna.Memory;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CompletionException;
import java.util.concurrent.Executor;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.function.Supplier;

/**
 * The native search client: one loaded module and its eight functions.
 *
 * <p>Text goes in as {@link String} (always as UTF-8, whatever the platform's charset) or as
 * UTF-8 bytes ({@code byte[]}, {@link ByteBuffer}, see {@link Text}), and comes out as
 * {@code String} or, from the {@code ...Bytes} methods, as UTF-8 {@code byte[]}.
 *
 * <p>Errors: the module's refusal throws {@link NtsrchException} with its last-error text; a
 * refusal with an empty text means the module ran out of memory and throws
 * {@link OutOfMemoryError}; input the module cannot take (a NUL, a lone surrogate, a sort
 * code outside C int) throws {@link IllegalArgumentException} naming the parameter and the
 * offset, before any call. Instances are thread-safe: each call reads the last error on the
 * thread that made it.
 *
 * <p>Finding the module ({@link #load()}): {@code -Dntsrch.module} or {@code $NTSRCH_MODULE}
 * when set (the only place tried), else the copy inside this jar, extracted under a
 * content-hash name into {@code -Dntsrch.tmpdir} or {@code java.io.tmpdir}, else the system
 * library path.
 */
public final class Ntsrch {
    /** The ABI this binding was written for. */
    public static final int ABI_VERSION = 1;
    /** The module's base name. */
    public static final String MODULE_NAME = "nortavel-nortaveltune-search-client";
    /** The module's file name on this platform. */
    public static final String MODULE_FILE = MODULE_NAME + suffix();

    private static final String[] EXPORTS = {"ntsrch_version", "ntsrch_abi_version", "ntsrch_last_error",
        "ntsrch_free", "ntsrch_build_search_url", "ntsrch_filter_and_sort_tracks_json",
        "ntsrch_normalize_unified_results_json", "ntsrch_selftest"};
    private static final Object LOCK = new Object();
    private static volatile Ntsrch shared;

    private final String path;
    private final Function version;
    private final Function abiVersion;
    private final Function lastError;
    private final Function free;
    private final Function buildSearchUrl;
    private final Function filterAndSortTracks;
    private final Function normalizeUnifiedResults;
    private final Function selftest;

    private Ntsrch(String path, NativeLibrary lib) {
        this.path = path;
        version = lib.getFunction(EXPORTS[0]);
        abiVersion = lib.getFunction(EXPORTS[1]);
        lastError = lib.getFunction(EXPORTS[2]);
        free = lib.getFunction(EXPORTS[3]);
        buildSearchUrl = lib.getFunction(EXPORTS[4]);
        filterAndSortTracks = lib.getFunction(EXPORTS[5]);
        normalizeUnifiedResults = lib.getFunction(EXPORTS[6]);
        selftest = lib.getFunction(EXPORTS[7]);
    }

    // ---- finding the module ----------------------------------------------------------------

    /**
     * The module found by the lookup rule, loaded once per class loader and shared.
     *
     * @throws ModuleLoadException listing every place tried
     */
    public static Ntsrch load() {
        Ntsrch s = shared;
        if (s == null) {
            synchronized (LOCK) {
                s = shared;
                if (s == null) {
                    s = find();
                    shared = s;
                }
            }
        }
        return s;
    }

    /**
     * The module at this path, and nowhere else.
     *
     * @throws ModuleLoadException with the reason it is unusable
     */
    public static Ntsrch load(Path path) {
        String place = path.toAbsolutePath().toString();
        try {
            return open(place);
        } catch (Unusable e) {
            throw new ModuleLoadException(List.of(place + " (given): " + e.getMessage()), true);
        }
    }

    private static Ntsrch find() {
        String[][] named = {{System.getProperty("ntsrch.module"), "-Dntsrch.module"},
            {System.getenv("NTSRCH_MODULE"), "$NTSRCH_MODULE"}};
        for (String[] n : named) {
            if (n[0] != null && !n[0].isEmpty()) {
                String place = Paths.get(n[0]).toAbsolutePath().toString();
                try {
                    return open(place);
                } catch (Unusable e) {
                    throw new ModuleLoadException(List.of(place + " (" + n[1] + "): " + e.getMessage()), true);
                }
            }
        }
        List<String> tried = new ArrayList<>();
        String resource = Platform.RESOURCE_PREFIX + "/" + MODULE_FILE;
        try {
            Path extracted = extract(resource);
            if (extracted == null) {
                tried.add(resource + " (jar resource): not in this jar");
            } else {
                try {
                    return open(extracted.toString());
                } catch (Unusable e) {
                    tried.add(extracted + " (extracted from the jar's " + resource + "): " + e.getMessage());
                }
            }
        } catch (IOException e) {
            tried.add(resource + " (jar resource): could not extract: " + e);
        }
        try {
            return open(MODULE_FILE);
        } catch (Unusable e) {
            tried.add(MODULE_FILE + " (system library path): " + e.getMessage());
        }
        throw new ModuleLoadException(tried, false);
    }

    /** Copies the resource to TMP/MODULE_NAME-HASH.EXT once; same bytes, same file. */
    private static Path extract(String resource) throws IOException {
        ClassLoader cl = Ntsrch.class.getClassLoader();
        byte[] data;
        try (InputStream in = cl == null ? ClassLoader.getSystemResourceAsStream(resource)
                : cl.getResourceAsStream(resource)) {
            if (in == null) {
                return null;
            }
            data = in.readAllBytes();
        }
        String dir = System.getProperty("ntsrch.tmpdir");
        if (dir == null || dir.isEmpty()) {
            dir = System.getProperty("java.io.tmpdir");
        }
        Path folder = Paths.get(dir).toAbsolutePath();
        Files.createDirectories(folder);
        Path target = folder.resolve(MODULE_NAME + "-" + sha256(data).substring(0, 32) + suffix());
        if (Files.isRegularFile(target) && Arrays.equals(Files.readAllBytes(target), data)) {
            return target;
        }
        // Whole or not at all: another process may be loading the same name right now.
        Path part = Files.createTempFile(folder, MODULE_NAME + "-", ".part");
        try {
            Files.write(part, data);
            try {
                Files.move(part, target, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                Files.move(part, target, StandardCopyOption.REPLACE_EXISTING);
            }
        } finally {
            Files.deleteIfExists(part);
        }
        return target;
    }

    private static String sha256(byte[] data) {
        try {
            StringBuilder sb = new StringBuilder();
            for (byte b : MessageDigest.getInstance("SHA-256").digest(data)) {
                sb.append(String.format("%02x", b & 0xff));
            }
            return sb.toString();
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException(e);
        }
    }

    private static final class Unusable extends Exception {
        private static final long serialVersionUID = 1L;

        Unusable(String why) {
            super(why);
        }
    }

    private static Ntsrch open(String place) throws Unusable {
        NativeLibrary lib;
        try {
            lib = NativeLibrary.getInstance(place);
        } catch (UnsatisfiedLinkError e) {
            throw new Unusable(oneLine(e.getMessage()));
        }
        List<String> missing = new ArrayList<>();
        for (String name : EXPORTS) {
            try {
                lib.getFunction(name);
            } catch (UnsatisfiedLinkError e) {
                missing.add(name);
            }
        }
        if (!missing.isEmpty()) {
            throw new Unusable("does not export " + String.join(", ", missing));
        }
        Ntsrch n = new Ntsrch(place, lib);
        int abi = n.abiVersion();
        if (abi != ABI_VERSION) {
            throw new Unusable("module ABI " + abi + ", this binding needs " + ABI_VERSION);
        }
        return n;
    }

    /** JNA's reason on one line: its first line only names the library, the next say why. */
    private static String oneLine(String s) {
        if (s == null) {
            return "could not be loaded";
        }
        String one = s.trim().replaceAll("\\s*\n\\s*", " ");
        return one.length() > 600 ? one.substring(0, 600) + "..." : one;
    }

    private static String suffix() {
        return Platform.isWindows() ? ".dll" : Platform.isMac() ? ".dylib" : ".so";
    }

    /** The file loaded (the bare file name when the system library path supplied it). */
    public String path() {
        return path;
    }

    // ---- the module's functions --------------------------------------------------------------

    /** The module's version text, e.g. "1.0.0". */
    public String version() {
        Pointer p = (Pointer) version.invoke(Pointer.class, new Object[0]);
        return p.getString(0, "UTF-8");
    }

    public int abiVersion() {
        return abiVersion.invokeInt(new Object[0]);
    }

    /** 0 when the built-in checks pass; 1: URL building failed; 2: title ordering failed. */
    public int selftest() {
        return selftest.invokeInt(new Object[0]);
    }

    /** The search URL for query on the module's default base. */
    public String buildSearchUrl(String query) {
        return buildSearchUrl(query, null);
    }

    /** The search URL for query on baseUrl (null or empty: the module's default). */
    public String buildSearchUrl(String query, String baseUrl) {
        return buildSearchUrl(Text.ofNullable(query), Text.ofNullable(baseUrl));
    }

    public String buildSearchUrl(Text query, Text baseUrl) {
        // base_url comes first in the C signature, so its refusal wins, as in every binding.
        Memory b = Utf8.arg(baseUrl, "baseUrl");
        Memory q = null;
        try {
            if (b != null && !baseUrl.isString()) {
                Utf8.requireValid(b, "baseUrl");
            }
            q = Utf8.arg(query, "query");
            return Utf8.decode(take("ntsrch_build_search_url", buildSearchUrl, new Object[] {b, q}));
        } finally {
            close(q);
            close(b);
        }
    }

    /** The URL as UTF-8 bytes; base_url bytes are copied as given. */
    public byte[] buildSearchUrlBytes(Text query, Text baseUrl) {
        Memory b = Utf8.arg(baseUrl, "baseUrl");
        Memory q = null;
        try {
            q = Utf8.arg(query, "query");
            return take("ntsrch_build_search_url", buildSearchUrl, new Object[] {b, q});
        } finally {
            close(q);
            close(b);
        }
    }

    /** Every track of the JSON array, in input order. */
    public String filterAndSortTracks(String tracksJson) {
        return filterAndSortTracks(Text.ofNullable(tracksJson), FilterOptions.DEFAULT);
    }

    /** The tracks of the JSON array that options keep, in its order, as a compact JSON array. */
    public String filterAndSortTracks(String tracksJson, FilterOptions options) {
        return filterAndSortTracks(Text.ofNullable(tracksJson), options);
    }

    public String filterAndSortTracks(byte[] tracksJson, FilterOptions options) {
        return filterAndSortTracks(Text.ofNullable(tracksJson), options);
    }

    public String filterAndSortTracks(Text tracksJson, FilterOptions options) {
        return Utf8.decode(filter(tracksJson, options));
    }

    public byte[] filterAndSortTracksBytes(byte[] tracksJson, FilterOptions options) {
        return filter(Text.ofNullable(tracksJson), options);
    }

    public byte[] filterAndSortTracksBytes(Text tracksJson, FilterOptions options) {
        return filter(tracksJson, options);
    }

    private byte[] filter(Text tracks, FilterOptions options) {
        FilterOptions o = options == null ? FilterOptions.DEFAULT : options;
        Memory t = Utf8.arg(tracks, "tracks");
        Memory q = null;
        Memory d = null;
        try {
            q = Utf8.arg(o.query, "query");
            d = Utf8.arg(o.downloaded, "downloaded");
            int sort = o.checkedSort();
            return take("ntsrch_filter_and_sort_tracks_json", filterAndSortTracks,
                    new Object[] {t, q, o.downloadedOnly ? 1 : 0, d, sort});
        } finally {
            close(t);
            close(q);
            close(d);
        }
    }

    /** {"localCount":N,"catalogueCount":M,"local":[...],"catalogue":[...]} from a unified result. */
    public String normalizeUnifiedResults(String json) {
        return Utf8.decode(normalize(Text.ofNullable(json)));
    }

    public String normalizeUnifiedResults(byte[] json) {
        return Utf8.decode(normalize(Text.ofNullable(json)));
    }

    public String normalizeUnifiedResults(Text json) {
        return Utf8.decode(normalize(json));
    }

    public byte[] normalizeUnifiedResultsBytes(byte[] json) {
        return normalize(Text.ofNullable(json));
    }

    public byte[] normalizeUnifiedResultsBytes(Text json) {
        return normalize(json);
    }

    private byte[] normalize(Text json) {
        // A direct buffer goes in place: this call takes a length, not a terminator.
        if (json != null && json.buffer != null && json.buffer.isDirect()) {
            Pointer at = Native.getDirectBufferPointer(json.buffer).share(json.buffer.position());
            int n = json.buffer.remaining();
            long nul = Utf8.find(at, 0, n);
            if (nul >= 0) {
                throw new IllegalArgumentException("unified: embedded NUL at byte " + nul);
            }
            if (n > 0) {
                return take("ntsrch_normalize_unified_results_json", normalizeUnifiedResults,
                        new Object[] {at, Utf8.sizeT(n)});
            }
        }
        Memory m = Utf8.arg(json, "unified");
        try {
            return take("ntsrch_normalize_unified_results_json", normalizeUnifiedResults,
                    new Object[] {m, Utf8.sizeT(m == null ? 0 : m.size() - 1)});
        } finally {
            close(m);
        }
    }

    /**
     * Makes the call and reads its outcome on this thread: the result copied and released,
     * or this thread's last error.
     */
    private byte[] take(String name, Function f, Object[] args) {
        Pointer p = (Pointer) f.invoke(Pointer.class, args);
        if (p == null) {
            Pointer e = (Pointer) lastError.invoke(Pointer.class, new Object[0]);
            String text = e == null ? "" : e.getString(0, "UTF-8");
            if (text.isEmpty()) {
                throw new OutOfMemoryError(name + ": the module ran out of memory");
            }
            throw new NtsrchException(name, text);
        }
        try {
            long n = Utf8.strlen(p);
            if (n > Integer.MAX_VALUE - 8) {
                throw new OutOfMemoryError(name + ": a result of " + n + " bytes does not fit a Java array");
            }
            return p.getByteArray(0, (int) n);
        } finally {
            free.invokeVoid(new Object[] {p});
        }
    }

    private static void close(Memory m) {
        if (m != null) {
            m.close();
        }
    }

    // ---- async variants --------------------------------------------------------------------------

    private static final class Pool {
        static final ExecutorService EXECUTOR = Executors.newCachedThreadPool(new java.util.concurrent.ThreadFactory() {
            private final AtomicInteger n = new AtomicInteger();

            @Override
            public Thread newThread(Runnable r) {
                Thread t = new Thread(r, "ntsrch-" + n.incrementAndGet());
                t.setDaemon(true);
                return t;
            }
        });
    }

    /**
     * Runs on the executor; the future fails with what the blocking call throws (not wrapped).
     * Bad input is found there too, so the calling thread does no encoding work either.
     */
    private static <T> CompletableFuture<T> async(Supplier<T> call, Executor executor) {
        CompletableFuture<T> f = new CompletableFuture<>();
        try {
            (executor == null ? Pool.EXECUTOR : executor).execute(() -> {
                try {
                    f.complete(call.get());
                } catch (Throwable t) {
                    f.completeExceptionally(t instanceof CompletionException && t.getCause() != null ? t.getCause() : t);
                }
            });
        } catch (RuntimeException e) {
            f.completeExceptionally(e);
        }
        return f;
    }

    /** {@link #buildSearchUrl(String, String)} on a pool of daemon threads. */
    public CompletableFuture<String> buildSearchUrlAsync(String query, String baseUrl) {
        return buildSearchUrlAsync(query, baseUrl, null);
    }

    public CompletableFuture<String> buildSearchUrlAsync(String query, String baseUrl, Executor executor) {
        return async(() -> buildSearchUrl(query, baseUrl), executor);
    }

    public CompletableFuture<String> filterAndSortTracksAsync(String tracksJson, FilterOptions options) {
        return filterAndSortTracksAsync(Text.ofNullable(tracksJson), options, null);
    }

    public CompletableFuture<String> filterAndSortTracksAsync(Text tracksJson, FilterOptions options,
            Executor executor) {
        return async(() -> filterAndSortTracks(tracksJson, options), executor);
    }

    public CompletableFuture<byte[]> filterAndSortTracksBytesAsync(Text tracksJson, FilterOptions options,
            Executor executor) {
        return async(() -> filterAndSortTracksBytes(tracksJson, options), executor);
    }

    public CompletableFuture<String> normalizeUnifiedResultsAsync(String json) {
        return normalizeUnifiedResultsAsync(Text.ofNullable(json), null);
    }

    public CompletableFuture<String> normalizeUnifiedResultsAsync(Text json, Executor executor) {
        return async(() -> normalizeUnifiedResults(json), executor);
    }

    public CompletableFuture<byte[]> normalizeUnifiedResultsBytesAsync(Text json, Executor executor) {
        return async(() -> normalizeUnifiedResultsBytes(json), executor);
    }
}
