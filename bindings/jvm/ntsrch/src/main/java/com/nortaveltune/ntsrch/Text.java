// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import java.nio.ByteBuffer;
import java.util.Objects;

/**
 * Text handed to the module: a {@link String} (sent as UTF-8) or UTF-8 bytes, as a
 * {@code byte[]} or the remaining bytes of a {@link ByteBuffer} (its position is left alone).
 * Bytes go as given; a String must not hold a lone surrogate. Neither may hold a NUL.
 */
public final class Text {
    final String string;
    final byte[] bytes;
    final ByteBuffer buffer;

    private Text(String string, byte[] bytes, ByteBuffer buffer) {
        this.string = string;
        this.bytes = bytes;
        this.buffer = buffer;
    }

    public static Text of(String text) {
        return new Text(Objects.requireNonNull(text, "text"), null, null);
    }

    public static Text of(byte[] utf8) {
        return new Text(null, Objects.requireNonNull(utf8, "utf8"), null);
    }

    public static Text of(ByteBuffer utf8) {
        return new Text(null, null, Objects.requireNonNull(utf8, "utf8").duplicate());
    }

    /** Null for null, so that a nullable String passes through. */
    static Text ofNullable(String text) {
        return text == null ? null : of(text);
    }

    static Text ofNullable(byte[] utf8) {
        return utf8 == null ? null : of(utf8);
    }

    boolean isString() {
        return string != null;
    }
}
