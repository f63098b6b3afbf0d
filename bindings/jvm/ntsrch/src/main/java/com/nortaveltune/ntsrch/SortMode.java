// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

/** Orders of {@link Ntsrch#filterAndSortTracks}; the module keeps input order for any other code. */
public enum SortMode {
    /** Input order. */
    NONE(0),
    /** Title, ASCII case ignored. */
    TITLE_ASC(1),
    /** Artist, ASCII case ignored. */
    ARTIST_ASC(2),
    /** Largest publishTimestamp first. */
    NEWEST_FIRST(3),
    /** Smallest duration first. */
    SHORTEST_FIRST(4),
    /** Tracks whose streamURL is in the downloaded list first. */
    DOWNLOADED_FIRST(5);

    private final int code;

    SortMode(int code) {
        this.code = code;
    }

    /** The module's number for this order. */
    public int code() {
        return code;
    }
}
