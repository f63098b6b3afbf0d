// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

import java.util.ArrayList;
import java.util.List;
import java.util.Random;

/** Generated track lists: ties, case, non-ASCII text, missing and odd fields, non-objects. */
final class Tracks {
    private static final String[] WORDS = {"Night", "night", "Skies", "Été", "Niño", "Straße", "Love",
        "love", "ÉTÉ", "a", "A", "Zeta", "", "Ōkami", "ﬁre", "😀 smile", "sky\\\"quote"};
    private static final String[] ARTISTS = {"Aurora Vale", "aurora vale", "Bruno Kade", "Inès Roux",
        "Øster", "", "Zed"};

    private Tracks() {
    }

    /** n tracks; urls receives every stream URL. */
    static String json(int n, long seed, List<String> urls) {
        Random r = new Random(seed);
        StringBuilder sb = new StringBuilder("[");
        for (int i = 0; i < n; i++) {
            if (i > 0) {
                sb.append(',');
            }
            int shape = r.nextInt(20);
            if (shape == 0) {
                sb.append(r.nextBoolean() ? "42" : "\"not a track\"");
                continue;
            }
            String url = "https://cdn.example.com/s/" + r.nextInt(n + 1) + ".mp3";
            urls.add(url);
            sb.append("{\"id\":").append(i);
            if (shape != 1) {
                sb.append(",\"title\":\"").append(WORDS[r.nextInt(WORDS.length)]).append(' ')
                        .append(WORDS[r.nextInt(WORDS.length)]).append('"');
            }
            if (shape != 2) {
                sb.append(",\"artist\":").append(shape == 3 ? "7" : "\"" + ARTISTS[r.nextInt(ARTISTS.length)] + "\"");
            }
            sb.append(",\"streamURL\":\"").append(url).append('"');
            if (shape != 4) {
                sb.append(",\"duration\":").append(shape == 5 ? "\"12\"" : String.valueOf(60 + r.nextInt(5) * 30));
            }
            if (shape != 6) {
                sb.append(",\"publishTimestamp\":").append(shape == 7 ? "1.5e9" : String.valueOf(1500000000L
                        + r.nextInt(4) * 1000L));
            }
            sb.append(",\"nested\":{\"a\":[1,2,{\"b\":null}]}}");
        }
        return sb.append(']').toString();
    }

    static String downloaded(List<String> urls, long seed) {
        Random r = new Random(seed);
        List<String> picked = new ArrayList<>();
        for (String u : urls) {
            if (r.nextInt(3) == 0) {
                picked.add("\"" + u + "\"");
            }
        }
        picked.add("17");
        return "[" + String.join(",", picked) + "]";
    }
}
