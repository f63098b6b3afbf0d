// SPDX-License-Identifier: MIT
// The five track orders. Each order keeps its own slot per kept track, holding just its
// keys and the source element; the text orders carry folded prefixes that settle most
// comparisons without touching the document's string bytes. Every comparator falls back
// to the source address, which grows with the position in the input array, so ties keep
// input order.
#include "json_text.h"
#include "ntsrch.h"
#include "tracks.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace ntsrch {

namespace {

// A-Z to a-z in all eight bytes at once; bytes from 0x80 up are left alone.
constexpr uint64_t fold_word(uint64_t x) noexcept {
    constexpr uint64_t ones = 0x0101010101010101ULL;
    const uint64_t low7 = x & (0x7F * ones);
    const uint64_t from_a = low7 + (0x80 - 'A') * ones;     // top bit: byte >= 'A'
    const uint64_t past_z = low7 + (0x80 - 'Z' - 1) * ones; // top bit: byte > 'Z'
    return x | ((from_a & ~past_z & ~x & (0x80 * ones)) >> 2);
}

// The first 8 * N folded bytes of text, big-endian and zero-padded, so that comparing two
// packs as unsigned numbers has the sign of ci_strcmp over those bytes.
template <size_t N> void fold_packs(uint64_t (&k)[N], const char *text) noexcept {
    const unsigned char *s = reinterpret_cast<const unsigned char *>(text);
    size_t left = std::strlen(text);
    for (uint64_t &x : k) {
        const size_t n = left < 8 ? left : 8;
        x = 0;
        if (n == 8) {
            std::memcpy(&x, s, 8);
            if constexpr (std::endian::native == std::endian::little) x = __builtin_bswap64(x);
        } else {
            for (size_t i = 0; i < n; ++i)
                x |= static_cast<uint64_t>(s[i]) << (56 - 8 * i);
        }
        x = fold_word(x);
        s += n;
        left -= n;
    }
}

// A pack whose last byte is 0 holds the terminator: the text ends within it. Equal packs
// that do not end go on for at least their 8 bytes in both texts.
constexpr bool ends_within(uint64_t pack) noexcept {
    return (pack & 0xFF) == 0;
}

template <size_t N> int cmp_packs(const uint64_t (&a)[N], const uint64_t (&b)[N]) noexcept {
    for (size_t i = 0; i < N; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// Three 0x7F bytes put tracks without an artist after every ASCII name.
const char *artist_key(const char *artist) noexcept {
    return artist[0] == '\0' ? "\x7f\x7f\x7f" : artist;
}

int index_tie_break(const yyjson_val *l, const yyjson_val *r) noexcept {
    return l < r ? -1 : 1;
}

struct input_slot {
    yyjson_val *source;
};
struct title_slot {
    uint64_t k[3];
    const char *title;
    yyjson_val *source;
};
struct artist_slot {
    uint64_t k[2]; // artist key
    uint64_t t[1]; // title
    const char *artist;
    const char *title;
    yyjson_val *source;
};
struct published_slot {
    int64_t published;
    yyjson_val *source;
};
struct duration_slot {
    double duration;
    yyjson_val *source;
};
struct downloaded_slot {
    bool downloaded;
    yyjson_val *source;
};

int cmp_title_asc(const title_slot &l, const title_slot &r) noexcept {
    int c = cmp_packs(l.k, r.k);
    if (c == 0 && !ends_within(l.k[2])) c = ci_strcmp(l.title + 24, r.title + 24);
    return c != 0 ? c : index_tie_break(l.source, r.source);
}

int cmp_artist_asc(const artist_slot &l, const artist_slot &r) noexcept {
    int c = cmp_packs(l.k, r.k);
    if (c == 0 && !ends_within(l.k[1])) c = ci_strcmp(l.artist + 16, r.artist + 16);
    if (c == 0) c = cmp_packs(l.t, r.t);
    if (c == 0 && !ends_within(l.t[0])) c = ci_strcmp(l.title + 8, r.title + 8);
    return c != 0 ? c : index_tie_break(l.source, r.source);
}

int cmp_newest_first(const published_slot &l, const published_slot &r) noexcept {
    if (l.published != r.published) return l.published > r.published ? -1 : 1;
    return index_tie_break(l.source, r.source);
}

int cmp_shortest_first(const duration_slot &l, const duration_slot &r) noexcept {
    if (l.duration < r.duration) return -1;
    if (l.duration > r.duration) return 1;
    return index_tie_break(l.source, r.source);
}

template <class Slot, int (*Cmp)(const Slot &, const Slot &) noexcept>
void sort_slots(void *slots, size_t n) noexcept {
    Slot *s = static_cast<Slot *>(slots);
    std::sort(s, s + n, [](const Slot &a, const Slot &b) { return Cmp(a, b) < 0; });
}

size_t slot_size(unsigned mode) noexcept {
    switch (mode) {
    case NTSRCH_SORT_TITLE_ASC:
        return sizeof(title_slot);
    case NTSRCH_SORT_ARTIST_ASC:
        return sizeof(artist_slot);
    case NTSRCH_SORT_NEWEST_FIRST:
        return sizeof(published_slot);
    case NTSRCH_SORT_SHORTEST_FIRST:
        return sizeof(duration_slot);
    case NTSRCH_SORT_DOWNLOADED_FIRST:
        return sizeof(downloaded_slot);
    default:
        return sizeof(input_slot);
    }
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

track_order::track_order(int sort_mode) noexcept
    : mode_(static_cast<unsigned>(sort_mode)), slot_size_(slot_size(mode_)) {}

track_order::~track_order() {
    std::free(slots_);
}

// Grown by half again: the slots of n kept tracks never take more than 1.5 n slots.
void *track_order::grow() noexcept {
    if (count_ == cap_) {
        size_t cap = cap_ + cap_ / 2;
        if (cap < 64) cap = 64;
        if (cap > SIZE_MAX / slot_size_) return nullptr;
        void *p = std::realloc(slots_, cap * slot_size_);
        if (p == nullptr) return nullptr;
        slots_ = static_cast<unsigned char *>(p);
        cap_ = cap;
    }
    return slots_ + count_++ * slot_size_;
}

bool track_order::add(const kept_track &t) noexcept {
    void *at = grow();
    if (at == nullptr) return false;
    switch (mode_) {
    case NTSRCH_SORT_TITLE_ASC: {
        title_slot *s = static_cast<title_slot *>(at);
        fold_packs(s->k, t.title);
        s->title = t.title;
        s->source = t.source;
        break;
    }
    case NTSRCH_SORT_ARTIST_ASC: {
        artist_slot *s = static_cast<artist_slot *>(at);
        s->artist = artist_key(t.artist);
        fold_packs(s->k, s->artist);
        fold_packs(s->t, t.title);
        s->title = t.title;
        s->source = t.source;
        break;
    }
    case NTSRCH_SORT_NEWEST_FIRST:
        *static_cast<published_slot *>(at) = {t.published, t.source};
        break;
    case NTSRCH_SORT_SHORTEST_FIRST:
        *static_cast<duration_slot *>(at) = {t.duration, t.source};
        break;
    case NTSRCH_SORT_DOWNLOADED_FIRST:
        *static_cast<downloaded_slot *>(at) = {t.downloaded, t.source};
        break;
    default:
        static_cast<input_slot *>(at)->source = t.source;
        break;
    }
    return true;
}

// Calls f with each kept source in final order until f returns false; false then.
template <class Slot, class Visit> bool track_order::visit(Visit &&f) noexcept {
    const Slot *s = reinterpret_cast<const Slot *>(slots_);
    for (size_t i = 0; i < count_; ++i)
        if (!f(s[i].source)) return false;
    return true;
}

bool track_order::write(yyjson_val *root, size_t text_len, json_text &out) noexcept {
    if (count_ >= 2) {
        switch (mode_) {
        case NTSRCH_SORT_TITLE_ASC:
            sort_slots<title_slot, cmp_title_asc>(slots_, count_);
            break;
        case NTSRCH_SORT_ARTIST_ASC:
            sort_slots<artist_slot, cmp_artist_asc>(slots_, count_);
            break;
        case NTSRCH_SORT_NEWEST_FIRST:
            sort_slots<published_slot, cmp_newest_first>(slots_, count_);
            break;
        case NTSRCH_SORT_SHORTEST_FIRST:
            sort_slots<duration_slot, cmp_shortest_first>(slots_, count_);
            break;
        default:
            break; // input order; downloaded first is two passes below
        }
    }
    // Every slot starts with its keys and ends with the source.
    auto each = [this](auto &&f) {
        switch (mode_) {
        case NTSRCH_SORT_TITLE_ASC:
            return visit<title_slot>(f);
        case NTSRCH_SORT_ARTIST_ASC:
            return visit<artist_slot>(f);
        case NTSRCH_SORT_NEWEST_FIRST:
            return visit<published_slot>(f);
        case NTSRCH_SORT_SHORTEST_FIRST:
            return visit<duration_slot>(f);
        case NTSRCH_SORT_DOWNLOADED_FIRST: {
            const downloaded_slot *s = reinterpret_cast<const downloaded_slot *>(slots_);
            for (int pass = 0; pass < 2; ++pass)
                for (size_t i = 0; i < count_; ++i)
                    if (s[i].downloaded == (pass == 0) && !f(s[i].source)) return false;
            return true;
        }
        default:
            return visit<input_slot>(f);
        }
    };

    // Every element kept in input order: the input array itself is the result, written in
    // one piece.
    const yyjson_val *prev = nullptr;
    if (count_ == unsafe_yyjson_get_len(root) && each([&prev](const yyjson_val *v) {
            const bool later = v > prev;
            prev = v;
            return later;
        }))
        return out.value(root);
    // Kept elements take about their share of the input text; a quarter more of room
    // covers what the writer asks beyond the text.
    const size_t total = unsafe_yyjson_get_len(root);
    const double share = static_cast<double>(text_len) * static_cast<double>(count_) /
                         static_cast<double>(total != 0 ? total : 1) * 1.25;
    return out.expect(static_cast<size_t>(share)) && out.open('[') &&
           each([&out](yyjson_val *v) { return out.element(v); }) && out.close(']');
}

} // namespace ntsrch
