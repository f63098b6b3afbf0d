// SPDX-License-Identifier: MIT
// The five track orders. The cmp_ functions define each order; the text orders run on
// compact slots whose folded prefixes settle most comparisons without touching the
// document's string bytes, and fall back to the full comparator only when the prefixes
// cannot decide.
#include "internal.h"
#include "ntsrch.h"
#include "tracks.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ntsrch {

namespace {

int index_tie_break(const track_entry *l, const track_entry *r) noexcept {
    return l->index < r->index ? -1 : 1;
}

// Three 0x7F bytes put tracks without an artist after every ASCII name.
const char *artist_key(const char *artist) noexcept {
    return artist[0] == '\0' ? "\x7f\x7f\x7f" : artist;
}

// A-Z to a-z in all eight bytes at once; bytes from 0x80 up are left alone.
constexpr uint64_t fold_word(uint64_t x) noexcept {
    constexpr uint64_t ones = 0x0101010101010101ULL;
    const uint64_t low7 = x & (0x7F * ones);
    const uint64_t from_a = low7 + (0x80 - 'A') * ones;     // top bit: byte >= 'A'
    const uint64_t past_z = low7 + (0x80 - 'Z' - 1) * ones; // top bit: byte > 'Z'
    return x | ((from_a & ~past_z & ~x & (0x80 * ones)) >> 2);
}

// The next 8 folded bytes of s (left bytes remain before its terminator), big-endian and
// zero-padded, so that unsigned comparison of two packs has the sign of ci_strcmp over
// those bytes. Never reads past the terminator; packs after the end are 0.
uint64_t fold_pack(const unsigned char *&s, size_t &left) noexcept {
    const size_t n = left < 8 ? left : 8;
    uint64_t x = 0;
    if (n == 8) {
        std::memcpy(&x, s, 8);
        if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
    } else {
        for (size_t i = 0; i < n; ++i)
            x |= static_cast<uint64_t>(s[i]) << (56 - 8 * i);
    }
    s += n;
    left -= n;
    return fold_word(x);
}

// A pack whose last byte is 0 holds the terminator: the text ends within it.
constexpr bool ends_within(uint64_t pack) noexcept {
    return (pack & 0xFF) == 0;
}

// k: the first 24 folded bytes of the text compared first (title or artist key).
struct title_slot {
    uint64_t k[3];
    const track_entry *e;
};
struct artist_slot {
    uint64_t k[3];
    uint64_t t[2]; // the first 16 folded bytes of the title
    const track_entry *e;
};

template <class Slot> void pack_text(Slot &slot, const char *text) noexcept {
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    size_t left = std::strlen(text);
    for (uint64_t &k : slot.k)
        k = fold_pack(s, left);
}

// Entries sit in the working list in input order, so comparing their addresses is the
// index tie-break without loading either entry.
struct by_title_packs {
    bool operator()(const title_slot &a, const title_slot &b) const noexcept {
        for (int i = 0; i < 3; ++i)
            if (a.k[i] != b.k[i]) return a.k[i] < b.k[i];
        if (ends_within(a.k[2])) return a.e < b.e;
        return cmp_title_asc(a.e, b.e) < 0;
    }
};

// Artist packs first; only tracks of the same artist reach the title packs, and only
// texts that go on past their packs are read again.
struct by_artist_packs {
    bool operator()(const artist_slot &a, const artist_slot &b) const noexcept {
        for (int i = 0; i < 3; ++i)
            if (a.k[i] != b.k[i]) return a.k[i] < b.k[i];
        if (!ends_within(a.k[2])) return cmp_artist_asc(a.e, b.e) < 0;
        if (a.t[0] != b.t[0]) return a.t[0] < b.t[0];
        if (a.t[1] != b.t[1]) return a.t[1] < b.t[1];
        if (ends_within(a.t[1])) return a.e < b.e;
        return cmp_title_asc(a.e, b.e) < 0;
    }
};

// The slots' sources, in their order, written over the slots themselves: sources[i] lies
// inside slots[0..i], all of which have been read by then.
template <class Slot> yyjson_val **sources_of(Slot *slots, size_t n) noexcept {
    static_assert(sizeof(Slot) >= sizeof(yyjson_val *));
    yyjson_val **sources = reinterpret_cast<yyjson_val **>(slots);
    for (size_t i = 0; i < n; ++i)
        sources[i] = slots[i].e->source;
    return sources;
}

template <int (*Cmp)(const track_entry *, const track_entry *) noexcept>
void sort_entries(track_entry *entries, size_t n) noexcept {
    std::sort(entries, entries + n,
              [](const track_entry &a, const track_entry &b) { return Cmp(&a, &b) < 0; });
}

} // namespace

int ci_strcmp(const char *a, const char *b) noexcept {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(a != nullptr ? a : "");
    const unsigned char *q = reinterpret_cast<const unsigned char *>(b != nullptr ? b : "");
    for (;; ++p, ++q) {
        const int x = to_lower(*p), y = to_lower(*q);
        if (x != y || x == 0) return x - y;
    }
}

int cmp_title_asc(const track_entry *l, const track_entry *r) noexcept {
    const int c = ci_strcmp(l->title, r->title);
    return c != 0 ? c : index_tie_break(l, r);
}

int cmp_artist_asc(const track_entry *l, const track_entry *r) noexcept {
    int c = ci_strcmp(artist_key(l->artist), artist_key(r->artist));
    if (c != 0) return c;
    c = ci_strcmp(l->title, r->title);
    return c != 0 ? c : index_tie_break(l, r);
}

int cmp_newest_first(const track_entry *l, const track_entry *r) noexcept {
    if (l->published != r->published) return l->published > r->published ? -1 : 1;
    return index_tie_break(l, r);
}

int cmp_shortest_first(const track_entry *l, const track_entry *r) noexcept {
    if (l->duration < r->duration) return -1;
    if (l->duration > r->duration) return 1;
    return index_tie_break(l, r);
}

int cmp_downloaded_first(const track_entry *l, const track_entry *r) noexcept {
    if ((l->downloaded != 0) != (r->downloaded != 0)) return l->downloaded != 0 ? -1 : 1;
    return index_tie_break(l, r);
}

size_t order_scratch_size(size_t n) noexcept {
    return n *
           (sizeof(artist_slot) > sizeof(title_slot) ? sizeof(artist_slot) : sizeof(title_slot));
}

yyjson_val **order_tracks(track_entry *entries, size_t n, int sort_mode, void *scratch) noexcept {
    yyjson_val **sources = static_cast<yyjson_val **>(scratch);
    const unsigned mode = static_cast<unsigned>(sort_mode);
    if (n >= 2 && mode == NTSRCH_SORT_TITLE_ASC) {
        title_slot *slots = static_cast<title_slot *>(scratch);
        for (size_t i = 0; i < n; ++i) {
            slots[i].e = &entries[i];
            pack_text(slots[i], entries[i].title);
        }
        std::sort(slots, slots + n, by_title_packs{});
        return sources_of(slots, n);
    }
    if (n >= 2 && mode == NTSRCH_SORT_ARTIST_ASC) {
        artist_slot *slots = static_cast<artist_slot *>(scratch);
        for (size_t i = 0; i < n; ++i) {
            slots[i].e = &entries[i];
            pack_text(slots[i], artist_key(entries[i].artist));
            const unsigned char *t = reinterpret_cast<const unsigned char *>(entries[i].title);
            size_t left = std::strlen(entries[i].title);
            slots[i].t[0] = fold_pack(t, left);
            slots[i].t[1] = fold_pack(t, left);
        }
        std::sort(slots, slots + n, by_artist_packs{});
        return sources_of(slots, n);
    }
    // Numeric keys live in the records themselves; sorting the records in place keeps the
    // accesses sequential.
    if (n >= 2) {
        switch (mode) {
        case NTSRCH_SORT_NEWEST_FIRST:
            sort_entries<cmp_newest_first>(entries, n);
            break;
        case NTSRCH_SORT_SHORTEST_FIRST:
            sort_entries<cmp_shortest_first>(entries, n);
            break;
        case NTSRCH_SORT_DOWNLOADED_FIRST:
            sort_entries<cmp_downloaded_first>(entries, n);
            break;
        default:
            break;
        }
    }
    for (size_t i = 0; i < n; ++i)
        sources[i] = entries[i].source;
    return sources;
}

} // namespace ntsrch
