// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

/** The module refused a call: {@link #lastError()} is its text, read on the calling thread. */
public class NtsrchException extends RuntimeException {
    private static final long serialVersionUID = 1L;
    private final String function;
    private final String lastError;

    public NtsrchException(String function, String lastError) {
        super(function + ": " + lastError);
        this.function = function;
        this.lastError = lastError;
    }

    /** The C function that refused, e.g. {@code ntsrch_build_search_url}. */
    public String function() {
        return function;
    }

    /** The module's last-error text, e.g. {@code empty query}. */
    public String lastError() {
        return lastError;
    }
}
