// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

/**
 * What {@link Ntsrch#filterAndSortTracks} keeps and how it orders it. Immutable; build with
 * {@link #builder()}. The defaults: no text filter, every track, input order.
 */
public final class FilterOptions {
    static final FilterOptions DEFAULT = builder().build();

    final Text query;
    final boolean downloadedOnly;
    final Text downloaded;
    final int sort;

    private FilterOptions(Builder b) {
        query = b.query;
        downloadedOnly = b.downloadedOnly;
        downloaded = b.downloaded;
        sort = b.sort;
    }

    public static Builder builder() {
        return new Builder();
    }

    /** The sort code passed to the module. */
    public int sortCode() {
        return sort;
    }

    public boolean downloadedOnly() {
        return downloadedOnly;
    }

    public static final class Builder {
        private Text query;
        private boolean downloadedOnly;
        private Text downloaded;
        private int sort;

        private Builder() {
        }

        /** Keep tracks whose title or artist contains this (ASCII case ignored); null or blank: all. */
        public Builder query(String query) {
            this.query = Text.ofNullable(query);
            return this;
        }

        public Builder query(byte[] utf8) {
            this.query = Text.ofNullable(utf8);
            return this;
        }

        public Builder query(Text query) {
            this.query = query;
            return this;
        }

        /** Keep only tracks whose streamURL is in {@link #downloaded}. */
        public Builder downloadedOnly(boolean downloadedOnly) {
            this.downloadedOnly = downloadedOnly;
            return this;
        }

        /** A JSON array of the downloaded stream URLs. */
        public Builder downloaded(String json) {
            this.downloaded = Text.ofNullable(json);
            return this;
        }

        public Builder downloaded(byte[] utf8Json) {
            this.downloaded = Text.ofNullable(utf8Json);
            return this;
        }

        public Builder downloaded(Text json) {
            this.downloaded = json;
            return this;
        }

        public Builder sort(SortMode mode) {
            this.sort = mode == null ? 0 : mode.code();
            return this;
        }

        /**
         * A raw sort code, for codes this binding has no name for (the module keeps input
         * order for unknown ones).
         *
         * @throws IllegalArgumentException outside C int
         */
        public Builder sort(long code) {
            if (code < Integer.MIN_VALUE || code > Integer.MAX_VALUE) {
                throw new IllegalArgumentException("sort: " + code
                        + " is outside the C int range [-2147483648, 2147483647]");
            }
            this.sort = (int) code;
            return this;
        }

        public FilterOptions build() {
            return new FilterOptions(this);
        }
    }
}
