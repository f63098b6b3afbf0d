// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.sun.jna.Platform;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * The packaged jars, each in a fresh JVM started in a fresh folder, with no path given: the
 * lookup finds the module inside the jar, extracts it once under its content hash and loads it.
 */
class JarLoadTest {
    private static final String URL = "url https://api.nortaveltune.com/search/api?q=%C3%89t%C3%A9&format=json";

    @TempDir
    Path fresh;

    private static String jar(String classifier) {
        String main = System.getProperty("ntsrch.jar");
        return classifier == null ? main : main.replaceAll("\\.jar$", "-" + classifier + ".jar");
    }

    /** JNA's jar and this test's classes, from the test's own class path. */
    private static List<String> support() {
        List<String> out = new ArrayList<>();
        for (String e : System.getProperty("java.class.path").split(File.pathSeparator)) {
            if (e.contains("jna-") || e.endsWith("test-classes")) {
                out.add(e);
            }
        }
        return out;
    }

    private List<String> probe(String jar, Map<String, String> env, String... props)
            throws IOException, InterruptedException {
        Files.createDirectories(fresh.resolve("tmp"));
        List<String> cp = new ArrayList<>(support());
        cp.add(0, jar);
        List<String> cmd = new ArrayList<>();
        cmd.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
        cmd.add("-Djava.io.tmpdir=" + fresh.resolve("tmp"));
        cmd.add("-Djna.tmpdir=" + fresh.resolve("jna"));
        if (Runtime.version().feature() >= 24) {
            // Else JNA's System.load prints a restricted-method warning (an error later on).
            cmd.add("--enable-native-access=ALL-UNNAMED");
        }
        cmd.addAll(List.of(props));
        cmd.addAll(List.of("-cp", String.join(File.pathSeparator, cp), JarProbe.class.getName()));
        ProcessBuilder pb = new ProcessBuilder(cmd).directory(fresh.toFile()).redirectErrorStream(true);
        pb.environment().remove("NTSRCH_MODULE");
        pb.environment().remove("LD_LIBRARY_PATH");
        pb.environment().putAll(env);
        Process p = pb.start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertTrue(p.waitFor(5, TimeUnit.MINUTES), "the probe did not end");
        return List.of(out.split("\n"));
    }

    private List<Path> extracted() throws IOException {
        try (Stream<Path> s = Files.list(fresh.resolve("tmp"))) {
            return s.sorted().collect(Collectors.toList());
        }
    }

    @Test
    void theMainJarCarriesThisPlatformsModule() throws Exception {
        List<String> first = probe(jar(null), Map.of());
        assertEquals(URL, first.get(1), String.join("\n", first));
        List<Path> files = extracted();
        assertEquals(1, files.size(), files.toString());
        String name = files.get(0).getFileName().toString();
        assertTrue(name.matches(Ntsrch.MODULE_NAME + "-[0-9a-f]{32}\\.so"), name);
        assertEquals("path " + files.get(0), first.get(0));
        // A second process takes the same file: same content, same name, nothing added.
        List<String> second = probe(jar(null), Map.of());
        assertEquals(first, second);
        assertEquals(files, extracted());
    }

    @Test
    void theClassifierJarDoesTheSameWithOnePlatform() throws Exception {
        List<String> out = probe(jar(Platform.RESOURCE_PREFIX), Map.of(), "-Dntsrch.tmpdir=" + fresh.resolve("own"));
        assertEquals(URL, out.get(1), String.join("\n", out));
        assertTrue(out.get(0).startsWith("path " + fresh.resolve("own").resolve(Ntsrch.MODULE_NAME + "-")), out.get(0));
    }

    @Test
    void aJarWithoutThisPlatformListsEveryPlaceTried() throws Exception {
        String other = Platform.RESOURCE_PREFIX.equals("win32-x86-64") ? "linux-aarch64" : "win32-x86-64";
        List<String> out = probe(jar(other), Map.of());
        String all = String.join("\n", out);
        assertTrue(all.startsWith("error could not load " + Ntsrch.MODULE_FILE + "; tried:"), all);
        assertTrue(all.contains(Platform.RESOURCE_PREFIX + "/" + Ntsrch.MODULE_FILE + " (jar resource): not in this jar"), all);
        assertTrue(all.contains(Ntsrch.MODULE_FILE + " (system library path): "), all);
        assertTrue(all.contains("noexec"), all);
    }

    @Test
    void aNamedModuleIsTheOnlyPlaceTried() throws Exception {
        String missing = fresh.resolve("nowhere").resolve(Ntsrch.MODULE_FILE).toString();
        for (List<String> out : List.of(probe(jar(null), Map.of(), "-Dntsrch.module=" + missing),
                probe(jar(null), Map.of("NTSRCH_MODULE", missing)))) {
            String all = String.join("\n", out);
            assertTrue(all.startsWith("error could not load " + Ntsrch.MODULE_FILE + "; tried:\n  " + missing + " ("), all);
            assertEquals(2, out.size(), "one place only, and no jar fallback: " + all);
        }
        List<String> named = probe(jar(Platform.RESOURCE_PREFIX.equals("win32-x86-64") ? "linux-aarch64" : "win32-x86-64"),
                Map.of("NTSRCH_MODULE", TestModule.path().toString()));
        assertEquals(List.of("path " + TestModule.path(), URL), named);
    }
}
