// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import com.sun.jna.Platform;
import java.nio.file.Path;
import java.nio.file.Paths;

/** The module the build staged for this platform, loaded by path so no test extracts one. */
final class TestModule {
    private static Ntsrch lib;

    private TestModule() {
    }

    static Path path() {
        return Paths.get(System.getProperty("ntsrch.natives", "../../../build/jvm-natives"),
                Platform.RESOURCE_PREFIX, Ntsrch.MODULE_FILE).toAbsolutePath();
    }

    static synchronized Ntsrch get() {
        if (lib == null) {
            lib = Ntsrch.load(path());
        }
        return lib;
    }
}
