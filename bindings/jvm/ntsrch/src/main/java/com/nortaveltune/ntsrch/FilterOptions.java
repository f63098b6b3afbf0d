// SPDX-License-Identifier: MIT
package com.nortaveltune.ntsrch;

/**
 * What {@link Ntsrch#filterAndSortTracks} keeps and how it orders it. Immutable; build with
 * {@link #builder()}. The defaults: no text filter, every track, input order.
 */
public final class FilterOptions {
    static final FilterOptions DEFAULT = builder().build();

    int checkedSort() {
        if (sort < Integer.MIN_VALUE || sort > Integer.MAX_VALUE) {
            throw new IllegalArgumentException("sort: " + sort + " is outside the C int range [-2147483648, 2147483647]");
        }
        return (int) sort;
    }

    final Text query;
    final boolean downloadedOnly;
    final Text downloaded;
    final long sort;

    private FilterOptions(Builder b) {
        query = b.query;
        downloadedOnly = b.downloadedOnly;
        downloaded = b.downloaded;
        sort = b.sort;
    }

    public static Builder builder() {
        return new Builder();
    }

    /** The sort code given (checked against C int when a call uses it). */
    public long sortCode() {
        return sort;
    }

    public boolean downloadedOnly() {
        return downloadedOnly;
    }

    public static final class Builder {
        private Text query;
        private boolean downloadedOnly;
        private Text downloaded;
        private long sort;

        private Builder() {
        }

        /** Keep tracks whose title or artist contains this (ASCII case ignored); null or blank: all. */
        public Builder query(String query) {
            return query(Text.ofNullable(query));
        }

        public Builder query(byte[] utf8) {
            return query(Text.ofNullable(utf8));
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
            return downloaded(Text.ofNullable(json));
        }

        public Builder downloaded(byte[] utf8Json) {
            return downloaded(Text.ofNullable(utf8Json));
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
         * order for unknown ones). A call refuses one outside C int with
         * IllegalArgumentException, after the text parameters, in the C signature's order.
         */
        public Builder sort(long code) {
            this.sort = code;
            return this;
        }

        public FilterOptions build() {
            return new FilterOptions(this);
        }
    }
}
