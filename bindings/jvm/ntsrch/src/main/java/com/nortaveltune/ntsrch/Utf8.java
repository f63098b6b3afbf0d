// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import com.sun.jna.Function;
import com.sun.jna.Memory;
import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;

/** The input rules: text becomes NUL-terminated UTF-8 in native memory, or is refused. */
final class Utf8 {
    private Utf8() {
    }

    /**
     * libc's memchr and strlen: the JVM has no fast byte search over native memory, and these
     * scans would otherwise cost as much as a JSON parse of the same text.
     */
    private static final Function MEMCHR;
    private static final Function STRLEN;

    static {
        NativeLibrary c = NativeLibrary.getInstance(Platform.C_LIBRARY_NAME);
        MEMCHR = c.getFunction("memchr");
        STRLEN = c.getFunction("strlen");
    }

    /** The module's copy of text, NUL-terminated; null for null. The caller closes it. */
    static Memory arg(Text text, String param) {
        if (text == null) {
            return null;
        }
        byte[] data;
        int offset = 0;
        int length;
        String string = text.string;
        if (string != null) {
            data = string.getBytes(StandardCharsets.UTF_8);
            length = data.length;
        } else if (text.bytes != null) {
            data = text.bytes;
            length = data.length;
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
        }
        Memory m = new Memory(length + 1L);
        try {
            m.write(0, data, offset, length);
            m.setByte(length, (byte) 0);
            if (string != null) {
                check(string, m, length, param);
            } else {
                long nul = find(m, 0, length);
                if (nul >= 0) {
                    throw new IllegalArgumentException(param + ": embedded NUL at byte " + nul);
                }
            }
        } catch (RuntimeException e) {
            m.close();
            throw e;
        }
        return m;
    }

    /**
     * Refuses a lone surrogate, which getBytes silently writes as '?': a '?' in the UTF-8 can
     * only stand for one when the text holds one, so the char scan runs only then. Then a NUL.
     */
    private static void check(String s, Memory utf8, int length, String param) {
        if (find(utf8, '?', length) >= 0) {
            int at = loneSurrogate(s);
            if (at >= 0) {
                // Counted in code points, as every binding counts characters.
                throw new IllegalArgumentException(
                        param + ": not encodable as UTF-8 at character " + s.codePointCount(0, at));
            }
        }
        int nul = s.indexOf('\0');
        if (nul >= 0) {
            int at = s.substring(0, nul).getBytes(StandardCharsets.UTF_8).length;
            throw new IllegalArgumentException(param + ": embedded NUL at byte " + at);
        }
    }

    /** Offset of the first byte value in p[0, length), or -1. */
    static long find(Pointer p, int value, long length) {
        if (length == 0) {
            return -1;
        }
        Pointer at = (Pointer) MEMCHR.invoke(Pointer.class, new Object[] {p, value, sizeT(length)});
        return at == null ? -1 : Pointer.nativeValue(at) - Pointer.nativeValue(p);
    }

    static long strlen(Pointer p) {
        return Native.SIZE_T_SIZE == 8 ? STRLEN.invokeLong(new Object[] {p}) : STRLEN.invokeInt(new Object[] {p}) & 0xffffffffL;
    }

    static Object sizeT(long n) {
        return Native.SIZE_T_SIZE == 8 ? (Object) n : (Object) (int) n;
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
