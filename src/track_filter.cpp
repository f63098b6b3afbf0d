// SPDX-License-Identifier: MIT
// Track list filter: keeps the track objects that match the filter text and the
// downloaded switch, orders them and writes them back out as a compact JSON array.
#include "internal.h"
#include "json_text.h"
#include "ntsrch.h"
#include "tracks.h"
#include "url_set.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ntsrch {

ci_needle::~ci_needle() {
    std::free(next_);
}

bool ci_needle::init(const char *needle) noexcept {
    unsigned char text[NTSRCH_QUERY_CAPACITY];
    size_t classes = 1;
    for (len_ = 0; needle[len_] != '\0'; ++len_) {
        const unsigned char c = to_lower(static_cast<unsigned char>(needle[len_]));
        text[len_] = c;
        if (class_of_[c] == 0) {
            class_of_[c] = static_cast<unsigned char>(classes++);
            if (c >= 'a' && c <= 'z') class_of_[c - ('a' - 'A')] = class_of_[c];
        }
    }
    if (len_ == 0) return true;
    first_ = text[0];
    case_bit_ = (first_ >= 'a' && first_ <= 'z') ? 0x20 : 0;
    // At most 255 states below the match, each of at most 256 classes: every row offset
    // fits in 16 bits.
    next_ = static_cast<uint16_t *>(std::calloc(len_ * classes, sizeof *next_));
    if (next_ == nullptr) return false;
    const auto row = [classes](size_t state) { return static_cast<uint16_t>(state * classes); };
    match_ = row(len_);
    // State j moves as its longest proper border x does, except on the byte that extends
    // the match; x itself follows the needle's bytes through the rows already built.
    next_[class_of_[text[0]]] = row(1);
    size_t x = 0; // row offset
    for (size_t j = 1; j < len_; ++j) {
        uint16_t *r = next_ + row(j);
        std::memcpy(r, next_ + x, classes * sizeof *next_);
        r[class_of_[text[j]]] = row(j + 1);
        x = next_[x + class_of_[text[j]]];
    }
    return true;
}

namespace {

// Steps without a return to the start state after which a text counts as adversarial.
constexpr size_t long_run = 256;

} // namespace

// The rest of a text that keeps the automaton away from its start state: two halves run
// side by side, the second from the start state and overlapping the first by the needle's
// length less one, so no match across the split is missed. The two chains of dependent
// table loads overlap in time, which halves the cost per byte.
int ci_contains_rest(const unsigned char *t, size_t at, const ci_needle &needle) noexcept {
    const uint16_t *next = needle.next_;
    const unsigned char *class_of = needle.class_of_;
    const size_t len = std::strlen(reinterpret_cast<const char *>(t));
    const size_t half = len / 2;
    const size_t end_a = half + needle.len_ - 1 < len ? half + needle.len_ - 1 : len;
    const size_t both = end_a < len - half ? end_a : len - half;
    size_t bt = 0, i = 0;
    for (; i < both; ++i) {
        at = next[at + class_of[t[i]]];
        bt = next[bt + class_of[t[half + i]]];
        if (at == needle.match_ || bt == needle.match_) return 1;
    }
    for (size_t k = i; k < end_a; ++k)
        if ((at = next[at + class_of[t[k]]]) == needle.match_) return 1;
    for (size_t k = half + i; k < len; ++k)
        if ((bt = next[bt + class_of[t[k]]]) == needle.match_) return 1;
    return 0;
}

int ci_contains(const char *text, const ci_needle &needle) noexcept {
    if (needle.len_ == 0) return 1;
    const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
    const unsigned char first = needle.first_, case_bit = needle.case_bit_;
    size_t at = 0; // row offset of the current state
    size_t run = 0;
    for (;;) {
        if (at == 0) {
            // Most text bytes cannot start a match: skip them with one test each (the
            // needle holds no NUL, so the terminator is among them).
            while ((*t | case_bit) != first) {
                if (*t == '\0') return 0;
                ++t;
            }
            run = 0;
        }
        const unsigned char c = *t++;
        if (c == '\0') return 0;
        at = needle.next_[at + needle.class_of_[c]];
        if (at == needle.match_) return 1;
        if (++run == long_run) return ci_contains_rest(t, at, needle);
    }
}

} // namespace ntsrch

namespace {

using ntsrch::kept_track;

// Truncated toward zero; anything outside the signed 64-bit range (NaN included) gives the
// smallest value, without an out-of-range float-to-integer conversion.
int64_t published_from(double d) noexcept {
    if (d >= -0x1p63 && d < 0x1p63) return static_cast<int64_t>(d);
    return INT64_MIN;
}

enum member : unsigned { TITLE, ARTIST, STREAM_URL, DURATION, PUBLISHED, MEMBER_COUNT };

// The first member of each wanted name, by exact key; the scan stops once all are found,
// and only keys of a wanted name's length are compared.
struct track_members {
    yyjson_val *at[MEMBER_COUNT] = {};
};

// The member each key length can name; a key of any other length costs one look here.
constexpr unsigned char member_of_length[] = {
    MEMBER_COUNT, MEMBER_COUNT, MEMBER_COUNT, MEMBER_COUNT, MEMBER_COUNT, TITLE,
    ARTIST,       MEMBER_COUNT, DURATION,     STREAM_URL,   MEMBER_COUNT, MEMBER_COUNT,
    MEMBER_COUNT, MEMBER_COUNT, MEMBER_COUNT, MEMBER_COUNT, PUBLISHED};

// Fixed-size compares, which the compiler turns into a few word loads instead of a call.
bool has_name(unsigned which, const char *key) noexcept {
    switch (which) {
    case TITLE:
        return std::memcmp(key, "title", 5) == 0;
    case ARTIST:
        return std::memcmp(key, "artist", 6) == 0;
    case STREAM_URL:
        return std::memcmp(key, "streamURL", 9) == 0;
    case DURATION:
        return std::memcmp(key, "duration", 8) == 0;
    default:
        return std::memcmp(key, "publishTimestamp", 16) == 0;
    }
}

track_members find_members(yyjson_val *obj, unsigned wanted) noexcept {
    track_members m;
    size_t count = unsafe_yyjson_get_len(obj);
    yyjson_val *key = count != 0 ? unsafe_yyjson_get_first(obj) : nullptr;
    for (; count != 0 && wanted != 0; --count, key = unsafe_yyjson_get_next(key + 1)) {
        const size_t len = unsafe_yyjson_get_len(key);
        if (len >= sizeof member_of_length) continue;
        const unsigned which = member_of_length[len];
        if (which == MEMBER_COUNT || (wanted & 1u << which) == 0 ||
            !has_name(which, unsafe_yyjson_get_str(key)))
            continue;
        m.at[which] = key + 1;
        wanted &= ~(1u << which);
    }
    return m;
}

const char *text_of(yyjson_val *v) noexcept {
    return yyjson_is_str(v) ? unsafe_yyjson_get_str(v) : "";
}

// The filter text: leading whitespace skipped, at most the first 255 bytes of the rest,
// trailing whitespace removed.
void trim_query(const char *query, char (&buf)[NTSRCH_QUERY_CAPACITY]) noexcept {
    std::memset(buf, 0, sizeof buf);
    if (query == nullptr) return;
    const unsigned char *q = reinterpret_cast<const unsigned char *>(query);
    while (*q != '\0' && ntsrch::is_space(*q))
        ++q;
    size_t n = strnlen(reinterpret_cast<const char *>(q), sizeof buf - 1);
    std::memcpy(buf, q, n);
    while (n > 0 && ntsrch::is_space(static_cast<unsigned char>(buf[n - 1])))
        buf[--n] = '\0';
}

// Which members the filter and the order read; the rest are never looked up.
unsigned wanted_members(bool text_filter, bool have_set, int sort_mode) noexcept {
    unsigned w = have_set ? 1u << STREAM_URL : 0;
    switch (static_cast<unsigned>(sort_mode)) {
    case NTSRCH_SORT_TITLE_ASC:
        w |= 1u << TITLE;
        break;
    case NTSRCH_SORT_ARTIST_ASC:
        w |= 1u << TITLE | 1u << ARTIST;
        break;
    case NTSRCH_SORT_NEWEST_FIRST:
        w |= 1u << PUBLISHED;
        break;
    case NTSRCH_SORT_SHORTEST_FIRST:
        w |= 1u << DURATION;
        break;
    default:
        break;
    }
    return text_filter ? w | 1u << TITLE | 1u << ARTIST : w;
}

// Lack of memory after the input parsed: nothing partial is returned.
char *out_of_memory() noexcept {
    ntsrch::clear_error();
    return nullptr;
}

struct doc_holder {
    yyjson_doc *doc = nullptr;
    doc_holder() = default;
    doc_holder(const doc_holder &) = delete;
    doc_holder &operator=(const doc_holder &) = delete;
    ~doc_holder() { release(); }
    void release() noexcept {
        yyjson_doc_free(doc);
        doc = nullptr;
    }
};

} // namespace

extern "C" NTSRCH_API char *
ntsrch_filter_and_sort_tracks_json(const char *tracks_json, const char *query, int downloaded_only,
                                   const char *downloaded_json, int sort_mode) {
    using namespace ntsrch;
    if (tracks_json == nullptr) {
        set_error("null tracks_json");
        return nullptr;
    }
    doc_holder tracks;
    // Without flags the reader copies the text and never writes to it.
    const size_t tracks_len = std::strlen(tracks_json);
    tracks.doc = yyjson_read_opts(const_cast<char *>(tracks_json), tracks_len, 0, nullptr, nullptr);
    yyjson_val *root = yyjson_doc_get_root(tracks.doc);
    if (!yyjson_is_arr(root)) {
        set_error("tracks_json must be array");
        return nullptr;
    }

    // The flag only shows through these two settings; otherwise the list is not read.
    const bool want_downloaded =
        downloaded_only != 0 || static_cast<unsigned>(sort_mode) == NTSRCH_SORT_DOWNLOADED_FIRST;
    doc_holder downloaded;
    url_set dl;
    if (want_downloaded && downloaded_json != nullptr && downloaded_json[0] != '\0') {
        const size_t list_len = std::strlen(downloaded_json);
        const url_set::plain read = dl.build_plain(downloaded_json, list_len);
        if (read == url_set::plain::no_memory) return out_of_memory();
        if (read == url_set::plain::other_text) {
            yyjson_read_err err;
            downloaded.doc =
                yyjson_read_opts(const_cast<char *>(downloaded_json), list_len, 0, nullptr, &err);
            // An unusable list is no set, but a reader out of memory must not pass as one.
            if (downloaded.doc == nullptr && err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION)
                return out_of_memory();
            if (!dl.build(yyjson_doc_get_root(downloaded.doc))) return out_of_memory();
        }
    }

    char filter[NTSRCH_QUERY_CAPACITY];
    trim_query(query, filter);
    ci_needle needle;
    if (!needle.init(filter)) return out_of_memory();
    const bool text_filter = !needle.empty();
    // Without a set no track is downloaded: stream URLs need not be read.
    const unsigned wanted = wanted_members(text_filter, !dl.empty(), sort_mode);

    json_text out;
    {
        track_order order(sort_mode);
        // Tracks are looked at ahead of their filtering: six ahead, a track's members are
        // found and its stream URL's slot fetched; three ahead, the text of the member in
        // that slot. Past the caches each would be a miss in turn.
        struct ahead {
            yyjson_val *elem; // null: not an object
            track_members m;
            const char *url; // null: no string, or the empty text
            size_t url_len;
            uint64_t key;
        };
        auto look = [&](yyjson_val *e, ahead &a) {
            a.elem = yyjson_is_obj(e) ? e : nullptr;
            a.url = nullptr;
            if (a.elem == nullptr) return;
            a.m = find_members(e, wanted);
            yyjson_val *url = a.m.at[STREAM_URL];
            if (!yyjson_is_str(url) || unsafe_yyjson_get_str(url)[0] == '\0') return;
            a.url = unsafe_yyjson_get_str(url);
            a.url_len = std::strlen(a.url);
            a.key = dl.key(a.url, a.url_len);
        };
        constexpr size_t key_ahead = 6, fetch_ahead = 3, ring = 8; // ring > key_ahead
        ahead q[ring];
        const size_t count = unsafe_yyjson_get_len(root);
        yyjson_val *elem = count != 0 ? unsafe_yyjson_get_first(root) : nullptr;
        size_t looked = 0; // tracks looked at; elem is the next one while any is left
        const auto look_next = [&] {
            look(elem, q[looked % ring]);
            if (++looked < count) elem = unsafe_yyjson_get_next(elem);
        };
        while (looked < count && looked < key_ahead)
            look_next();
        for (size_t i = 0; i < count; ++i) {
            if (looked < count) look_next();
            const ahead &soon = q[(i + fetch_ahead) % ring];
            if (i + fetch_ahead < count && soon.url != nullptr) dl.fetch_member(soon.key);
            const ahead &cur = q[i % ring];
            if (cur.elem == nullptr) continue;
            const track_members &m = cur.m;
            kept_track t{cur.elem, text_of(m.at[TITLE]), text_of(m.at[ARTIST]), 0.0, 0, false};
            if (text_filter && !ci_contains(t.title, needle) && !ci_contains(t.artist, needle))
                continue;
            t.downloaded = cur.url != nullptr && dl.contains(cur.url, cur.url_len, cur.key);
            if (downloaded_only != 0 && !t.downloaded) continue;
            if (yyjson_is_num(m.at[DURATION])) t.duration = unsafe_yyjson_get_num(m.at[DURATION]);
            if (yyjson_is_num(m.at[PUBLISHED]))
                t.published = published_from(unsafe_yyjson_get_num(m.at[PUBLISHED]));
            if (!order.add(t)) return out_of_memory();
        }
        dl.release(); // both done with before the result grows
        downloaded.release();
        if (!order.write(root, tracks_len, out)) return out_of_memory();
    }
    tracks.release();
    char *text = out.release();
    if (text == nullptr) return out_of_memory();
    clear_error();
    return text;
}
