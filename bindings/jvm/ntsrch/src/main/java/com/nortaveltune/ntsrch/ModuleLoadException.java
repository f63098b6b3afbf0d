// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/** No usable module was found; {@link #tried()} has every place tried and why it failed. */
public class ModuleLoadException extends RuntimeException {
    private static final long serialVersionUID = 1L;
    private final List<String> tried;

    ModuleLoadException(List<String> tried, boolean explicit) {
        super(message(tried, explicit));
        this.tried = Collections.unmodifiableList(new ArrayList<>(tried));
    }

    /** "place (how it was chosen): reason", in the order tried. */
    public List<String> tried() {
        return tried;
    }

    private static String message(List<String> tried, boolean explicit) {
        StringBuilder sb = new StringBuilder("could not load ").append(Ntsrch.MODULE_FILE).append("; tried:");
        for (String t : tried) {
            sb.append("\n  ").append(t);
        }
        if (!explicit) {
            sb.append("\nIf the temporary folder is mounted noexec, the extracted module cannot be mapped:"
                    + " give -Dntsrch.tmpdir=DIR (and -Djna.tmpdir=DIR for JNA's own library) on a file"
                    + " system that allows execution, or name the module with -Dntsrch.module=PATH or"
                    + " $NTSRCH_MODULE.");
        }
        return sb.toString();
    }
}
