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
    return i == 8 ? k : k << (8 * (8 - i));
}

// A pack whose last byte is 0 holds the terminator: the text ends within it.
constexpr bool ends_within(uint64_t pack) noexcept {
    return (pack & 0xFF) == 0;
}

struct text_slot {
    uint64_t k[3];
    const track_entry *e;
};

// Entries sit in the working list in input order, so comparing their addresses is the
// index tie-break without loading either entry.
bool before_by_position(const text_slot &a, const text_slot &b) noexcept {
    return a.e < b.e;
}

// k holds the first 24 folded bytes of the title.
bool title_before(const text_slot &a, const text_slot &b) noexcept {
    for (int i = 0; i < 3; ++i)
        if (a.k[i] != b.k[i]) return a.k[i] < b.k[i];
    if (ends_within(a.k[2])) return before_by_position(a, b);
    return cmp_title_asc(a.e, b.e) < 0;
}

// k[0..1] hold the first 16 folded bytes of the artist key, k[2] the first 8 of the title.
bool artist_before(const text_slot &a, const text_slot &b) noexcept {
    if (a.k[0] != b.k[0]) return a.k[0] < b.k[0];
    if (a.k[1] != b.k[1]) return a.k[1] < b.k[1];
    if (!ends_within(a.k[1])) return cmp_artist_asc(a.e, b.e) < 0;
    if (a.k[2] != b.k[2]) return a.k[2] < b.k[2];
    if (ends_within(a.k[2])) return before_by_position(a, b);
    return cmp_artist_asc(a.e, b.e) < 0;
}

void fill_slot_packs(text_slot &slot, const char *first, int first_packs, const char *second) {
    const unsigned char *s = reinterpret_cast<const unsigned char *>(first);
    int i = 0;
    for (; i < first_packs; ++i)
        slot.k[i] = fold_pack(s);
    s = reinterpret_cast<const unsigned char *>(second);
    for (; i < 3; ++i)
        slot.k[i] = fold_pack(s);
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
        for (size_t i = 0; i < n; ++i) {
            const track_entry &e = entries[i];
            slots[i].e = &e;
            if (mode == NTSRCH_SORT_TITLE_ASC)
                fill_slot_packs(slots[i], e.title, 3, "");
            else
                fill_slot_packs(slots[i], artist_key(e.artist), 2, e.title);
        }
        std::sort(slots, slots + n, mode == NTSRCH_SORT_TITLE_ASC ? title_before : artist_before);
        // In place: sources[i] lies inside slots[0..i], all of which have been read.
        static_assert(sizeof(text_slot) >= sizeof(yyjson_val *));
        for (size_t i = 0; i < n; ++i)
            sources[i] = slots[i].e->source;
        return sources;
    }
    int (*cmp)(const track_entry *, const track_entry *) noexcept = nullptr;
    if (n >= 2) {
        switch (mode) {
        case NTSRCH_SORT_NEWEST_FIRST:
            cmp = cmp_newest_first;
            break;
        case NTSRCH_SORT_SHORTEST_FIRST:
            cmp = cmp_shortest_first;
            break;
        case NTSRCH_SORT_DOWNLOADED_FIRST:
            cmp = cmp_downloaded_first;
            break;
        default:
            break;
        }
    }
    // Numeric keys live in the records themselves; sorting the records in place keeps the
    // accesses sequential.
    if (cmp != nullptr)
        std::sort(entries, entries + n,
                  [cmp](const track_entry &a, const track_entry &b) { return cmp(&a, &b) < 0; });
    for (size_t i = 0; i < n; ++i)
        sources[i] = entries[i].source;
    return sources;
}

} // namespace ntsrch
