// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import com.sun.jna.Memory;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;

/** The input rules: text becomes NUL-terminated UTF-8 in native memory, or is refused. */
final class Utf8 {
    private Utf8() {
    }

    /** The module's copy of text, NUL-terminated; null for null. The caller closes it. */
    static Memory arg(Text text, String param) {
        if (text == null) {
            return null;
        }
        byte[] data;
        int offset = 0;
        int length;
        if (text.string != null) {
            data = encode(text.string, param);
            length = data.length;
        } else if (text.bytes != null) {
            data = text.bytes;
            length = data.length;
            requireNoNul(data, 0, length, param);
        } else {
            ByteBuffer b = text.buffer;
            length = b.remaining();
            if (b.hasArray()) {
                data = b.array();
                offset = b.arrayOffset() + b.position();
            } else {
                data = new byte[length];
                b.duplicate().get(data);
            }
            requireNoNul(data, offset, length, param);
        }
        Memory m = new Memory(length + 1L);
        m.write(0, data, offset, length);
        m.setByte(length, (byte) 0);
        return m;
    }

    /** UTF-8 of s; refuses a lone surrogate (getBytes would silently write '?') and a NUL. */
    static byte[] encode(String s, String param) {
        byte[] data = s.getBytes(StandardCharsets.UTF_8);
        // Each char is at most 3 bytes and a pair is 4: a '?' can only stand for a lone
        // surrogate when data holds one, so the scan runs only then.
        if (contains(data, (byte) '?')) {
            int at = loneSurrogate(s);
            if (at >= 0) {
                throw new IllegalArgumentException(param + ": not encodable as UTF-8 at character " + at);
            }
        }
        int nul = s.indexOf('\0');
        if (nul >= 0) {
            int at = s.substring(0, nul).getBytes(StandardCharsets.UTF_8).length;
            throw new IllegalArgumentException(param + ": embedded NUL at byte " + at);
        }
        return data;
    }

    static int loneSurrogate(String s) {
        for (int i = 0, n = s.length(); i < n; i++) {
            char c = s.charAt(i);
            if (Character.isSurrogate(c)) {
                if (Character.isHighSurrogate(c) && i + 1 < n && Character.isLowSurrogate(s.charAt(i + 1))) {
                    i++;
                } else {
                    return i;
                }
            }
        }
        return -1;
    }

    private static boolean contains(byte[] data, byte value) {
        for (byte b : data) {
            if (b == value) {
                return true;
            }
        }
        return false;
    }

    static void requireNoNul(byte[] data, int offset, int length, String param) {
        for (int i = 0; i < length; i++) {
            if (data[offset + i] == 0) {
                throw new IllegalArgumentException(param + ": embedded NUL at byte " + i);
            }
        }
    }

    static void requireNoNul(ByteBuffer b, String param) {
        for (int i = 0, p = b.position(), n = b.remaining(); i < n; i++) {
            if (b.get(p + i) == 0) {
                throw new IllegalArgumentException(param + ": embedded NUL at byte " + i);
            }
        }
    }

    /** Base URL bytes reach the result as given, so a String result needs them valid. */
    static void requireValid(Memory m, String param) {
        byte[] data = m.getByteArray(0, (int) m.size() - 1);
        int at = invalidAt(data);
        if (at >= 0) {
            throw new IllegalArgumentException(param + ": not valid UTF-8 at byte " + at);
        }
    }

    /** Offset of the first byte that starts no well-formed UTF-8 sequence, or -1. */
    static int invalidAt(byte[] d) {
        int i = 0;
        while (i < d.length) {
            int b = d[i] & 0xff;
            if (b < 0x80) {
                i++;
                continue;
            }
            int n;
            int min;
            if (b >= 0xc2 && b <= 0xdf) {
                n = 1;
                min = 0x80;
            } else if (b >= 0xe0 && b <= 0xef) {
                n = 2;
                min = 0x800;
            } else if (b >= 0xf0 && b <= 0xf4) {
                n = 3;
                min = 0x10000;
            } else {
                return i;
            }
            if (i + n >= d.length) {
                return i;
            }
            int cp = b & (0x3f >> n);
            for (int k = 1; k <= n; k++) {
                int c = d[i + k] & 0xff;
                if ((c & 0xc0) != 0x80) {
                    return i;
                }
                cp = cp << 6 | (c & 0x3f);
            }
            if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
                return i;
            }
            i += n + 1;
        }
        return -1;
    }

    static String decode(byte[] utf8) {
        return new String(utf8, StandardCharsets.UTF_8);
    }
}
