// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

/** What an app does with no path given: prints where the module came from and a result. */
public final class JarProbe {
    private JarProbe() {
    }

    public static void main(String[] args) {
        try {
            Ntsrch lib = Ntsrch.load();
            System.out.println("path " + lib.path());
            System.out.println("url " + lib.buildSearchUrl("Été", null));
        } catch (ModuleLoadException e) {
            System.out.println("error " + e.getMessage());
            System.exit(3);
        }
    }
}
