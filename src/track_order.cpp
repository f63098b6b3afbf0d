// The five track orders. The cmp_ functions define each order; the text orders run on
// compact slots whose folded prefixes settle most comparisons without touching the
// document's string bytes, and fall back to the full comparator only when the prefixes
// cannot decide.
#include "internal.h"
#include "ntsrch.h"
#include "tracks.h"

#include <algorithm>

namespace ntsrch {

namespace {

int index_tie_break(const track_entry *l, const track_entry *r) noexcept {
    return l->index < r->index ? -1 : 1;
}

// Three 0x7F bytes put tracks without an artist after every ASCII name.
const char *artist_key(const char *artist) noexcept {
    return artist[0] == '\0' ? "\x7f\x7f\x7f" : artist;
}

// Next 8 folded bytes of s, big-endian, zero-padded after the terminator, so that
// unsigned comparison of two packs has the sign of ci_strcmp over those bytes. Advances s
// but never past the terminator, so packs after the end are 0.
uint64_t fold_pack(const unsigned char *&s) noexcept {
    uint64_t k = 0;
    int i = 0;
    for (; i < 8 && *s != '\0'; ++i, ++s)
        k = (k << 8) | to_lower(*s);
    return i == 0 ? 0 : k << (8 * (8 - i)); // i == 0 would shift by the full width
}

// A pack whose last byte is 0 holds the terminator: the text ends within it.
constexpr bool ends_within(uint64_t pack) noexcept {
    return (pack & 0xFF) == 0;
}

struct text_slot {
    uint64_t k[3]; // the first 24 folded bytes of the text compared first
    uint64_t t[2]; // artist order: the first 16 folded bytes of the title
    const track_entry *e;
};

void pack_text(text_slot &slot, const char *text) noexcept {
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    for (uint64_t &k : slot.k)
        k = fold_pack(s);
}

// Slots ordered by their packs, then, when the texts go on past them, by Full. Entries
// sit in the working list in input order, so comparing their addresses is the index
// tie-break without loading either entry.
template <int (*Full)(const track_entry *, const track_entry *) noexcept> struct by_packs {
    bool operator()(const text_slot &a, const text_slot &b) const noexcept {
        for (int i = 0; i < 3; ++i)
            if (a.k[i] != b.k[i]) return a.k[i] < b.k[i];
        if (ends_within(a.k[2])) return a.e < b.e;
        return Full(a.e, b.e) < 0;
    }
};

int artist_then_index(const track_entry *l, const track_entry *r) noexcept {
    const int c = ci_strcmp(artist_key(l->artist), artist_key(r->artist));
    return c != 0 ? c : index_tie_break(l, r);
}

struct by_packs_then_position {
    bool operator()(const text_slot &a, const text_slot &b) const noexcept {
        for (int i = 0; i < 3; ++i)
            if (a.k[i] != b.k[i]) return a.k[i] < b.k[i];
        return a.e < b.e;
    }
};

bool same_packs(const text_slot &a, const text_slot &b) noexcept {
    return a.k[0] == b.k[0] && a.k[1] == b.k[1] && a.k[2] == b.k[2];
}

// Within a group of equal artists cmp_artist_asc reduces to title and index. The title
// packs were taken while the slots were still in input order, so this reads no strings
// unless two titles share their first 16 bytes.
struct by_title_packs {
    bool operator()(const text_slot &a, const text_slot &b) const noexcept {
        if (a.t[0] != b.t[0]) return a.t[0] < b.t[0];
        if (a.t[1] != b.t[1]) return a.t[1] < b.t[1];
        if (ends_within(a.t[1])) return a.e < b.e;
        return cmp_artist_asc(a.e, b.e) < 0;
    }
};

void sort_artist_group(text_slot *slots, size_t n) noexcept {
    if (n > 1) std::sort(slots, slots + n, by_title_packs{});
}

// Beyond this many bytes of shared artist prefix the full comparison takes over, which
// bounds the recursion below.
constexpr size_t max_refined_prefix = 8 * sizeof(text_slot::k);

// Orders slots by artist key from byte offset on (the keys agree before it and none ends
// there) and then each group of equal artists by title. Long artists repeat across an
// album, so ties past the packs are settled by packing the next bytes of the tied slots
// rather than by reading both strings in every comparison.
void sort_by_artist(text_slot *slots, size_t n, size_t offset) noexcept {
    for (size_t i = 0; i < n; ++i)
        pack_text(slots[i], artist_key(slots[i].e->artist) + offset);
    const bool last = offset >= max_refined_prefix;
    if (last)
        std::sort(slots, slots + n, by_packs<artist_then_index>{});
    else
        std::sort(slots, slots + n, by_packs_then_position{});
    for (size_t start = 0; start < n;) {
        size_t end = start + 1;
        while (end < n && same_packs(slots[start], slots[end]))
            ++end;
        if (end - start > 1 && ends_within(slots[start].k[2])) {
            sort_artist_group(slots + start, end - start);
        } else if (end - start > 1 && !last) {
            sort_by_artist(slots + start, end - start, offset + sizeof(text_slot::k));
        } else if (end - start > 1) {
            for (size_t g = start; g < end;) {
                size_t h = g + 1;
                while (h < end && ci_strcmp(artist_key(slots[g].e->artist) + offset,
                                            artist_key(slots[h].e->artist) + offset) == 0)
                    ++h;
                sort_artist_group(slots + g, h - g);
                g = h;
            }
        }
        start = end;
    }
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
    return n * sizeof(text_slot);
}

yyjson_val **order_tracks(track_entry *entries, size_t n, int sort_mode, void *scratch) noexcept {
    yyjson_val **sources = static_cast<yyjson_val **>(scratch);
    const unsigned mode = static_cast<unsigned>(sort_mode);
    if (n >= 2 && (mode == NTSRCH_SORT_TITLE_ASC || mode == NTSRCH_SORT_ARTIST_ASC)) {
        text_slot *slots = static_cast<text_slot *>(scratch);
        for (size_t i = 0; i < n; ++i)
            slots[i].e = &entries[i];
        if (mode == NTSRCH_SORT_TITLE_ASC) {
            for (size_t i = 0; i < n; ++i)
                pack_text(slots[i], entries[i].title);
            std::sort(slots, slots + n, by_packs<cmp_title_asc>{});
        } else {
            for (size_t i = 0; i < n; ++i) {
                const unsigned char *t = reinterpret_cast<const unsigned char *>(entries[i].title);
                slots[i].t[0] = fold_pack(t);
                slots[i].t[1] = fold_pack(t);
            }
            sort_by_artist(slots, n, 0);
        }
        // In place: sources[i] lies inside slots[0..i], all of which have been read.
        static_assert(sizeof(text_slot) >= sizeof(yyjson_val *));
        for (size_t i = 0; i < n; ++i)
            sources[i] = slots[i].e->source;
        return sources;
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
