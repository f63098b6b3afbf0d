// SPDX-License-Identifier: MIT
// Track list filter: keeps the track objects that match the filter text and the
// downloaded switch, orders them and writes them back out as a compact JSON array.
#include "internal.h"
#include "ntsrch.h"
#include "tracks.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ntsrch {

int ci_contains(const char *text, const char *needle) noexcept {
    if (needle == nullptr || needle[0] == '\0') return 1;
    if (text == nullptr || text[0] == '\0') return 0;
    const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *n = reinterpret_cast<const unsigned char *>(needle);
    // A letter matches itself with bit 5 set or cleared; any other byte only itself.
    const unsigned char first = to_lower(n[0]);
    const unsigned char case_bit = (first >= 'a' && first <= 'z') ? 0x20 : 0;
    for (; *t != '\0'; ++t) {
        if ((*t | case_bit) != first) continue;
        size_t i = 1;
        while (n[i] != '\0' && to_lower(t[i]) == to_lower(n[i]))
            ++i;
        if (n[i] == '\0') return 1;
        if (t[i] == '\0') return 0; // what is left of the text is shorter than the needle
    }
    return 0;
}

} // namespace ntsrch

namespace {

using ntsrch::track_entry;

// The downloaded stream URLs: the parsed array, scanned element by element per track.
struct downloaded_set {
    yyjson_val *first = nullptr; // null: no set
    size_t count = 0;
    bool flat = false;    // elements are consecutive values
    bool has_nul = false; // some string carries an escaped NUL before its end
};

downloaded_set make_downloaded_set(yyjson_val *root) noexcept {
    downloaded_set set;
    if (!yyjson_is_arr(root) || yyjson_arr_size(root) == 0) return set;
    set.first = unsafe_yyjson_get_first(root);
    set.count = yyjson_arr_size(root);
    set.flat = unsafe_yyjson_arr_is_flat(root);
    yyjson_val *v = set.first;
    for (size_t i = 0; i < set.count; ++i, v = unsafe_yyjson_get_next(v)) {
        if (yyjson_is_str(v) && std::memchr(unsafe_yyjson_get_str(v), '\0', yyjson_get_len(v))) {
            set.has_nul = true;
            break;
        }
    }
    return set;
}

// Whether the set holds a string equal to url as NUL-terminated text (url_len is its
// length up to the first NUL, at least 1). Without NULs inside the set's strings a stored
// length must equal url_len, so almost every element is rejected by its tag alone.
bool in_downloaded_set(const downloaded_set &set, const char *url, size_t url_len) noexcept {
    if (set.first == nullptr) return false;
    yyjson_val *v = set.first;
    if (!set.has_nul) {
        const uint64_t want = (static_cast<uint64_t>(url_len) << YYJSON_TAG_BIT) | YYJSON_TYPE_STR;
        constexpr uint64_t mask = ~static_cast<uint64_t>(YYJSON_SUBTYPE_MASK);
        // URLs of one service share their start and differ at the end: look there first.
        uint64_t tail = 0;
        const size_t tail_at = url_len >= 8 ? url_len - 8 : 0;
        if (url_len >= 8) std::memcpy(&tail, url + tail_at, 8);
        for (size_t i = 0; i < set.count; ++i, v = set.flat ? v + 1 : unsafe_yyjson_get_next(v)) {
            if ((v->tag & mask) != want) continue;
            const char *s = v->uni.str;
            if (url_len >= 8) {
                uint64_t t;
                std::memcpy(&t, s + tail_at, 8);
                if (t != tail) continue;
            }
            if (std::memcmp(s, url, url_len) == 0) return true;
        }
        return false;
    }
    // Strings are stored with a terminator after their last byte, so s[url_len] is
    // readable whenever the stored length is at least url_len.
    for (size_t i = 0; i < set.count; ++i, v = unsafe_yyjson_get_next(v)) {
        if (!yyjson_is_str(v) || unsafe_yyjson_get_len(v) < url_len) continue;
        const char *s = v->uni.str;
        if (s[url_len] == '\0' && std::memcmp(s, url, url_len) == 0) return true;
    }
    return false;
}

// Truncated toward zero; anything outside the signed 64-bit range (NaN included) gives the
// smallest value, without an out-of-range float-to-integer conversion.
int64_t published_from(double d) noexcept {
    if (d >= -0x1p63 && d < 0x1p63) return static_cast<int64_t>(d);
    return INT64_MIN;
}

// The first member of each name, by exact key.
struct track_members {
    yyjson_val *title = nullptr, *artist = nullptr, *stream_url = nullptr, *duration = nullptr,
               *published = nullptr;
};

track_members find_members(yyjson_val *obj) noexcept {
    track_members m;
    int missing = 5;
    size_t count = unsafe_yyjson_get_len(obj);
    yyjson_val *key = count != 0 ? unsafe_yyjson_get_first(obj) : nullptr;
    for (; count != 0 && missing != 0; --count, key = unsafe_yyjson_get_next(key + 1)) {
        const char *k = unsafe_yyjson_get_str(key);
        yyjson_val **slot = nullptr;
        switch (unsafe_yyjson_get_len(key)) {
        case 5:
            if (std::memcmp(k, "title", 5) == 0) slot = &m.title;
            break;
        case 6:
            if (std::memcmp(k, "artist", 6) == 0) slot = &m.artist;
            break;
        case 8:
            if (std::memcmp(k, "duration", 8) == 0) slot = &m.duration;
            break;
        case 9:
            if (std::memcmp(k, "streamURL", 9) == 0) slot = &m.stream_url;
            break;
        case 16:
            if (std::memcmp(k, "publishTimestamp", 16) == 0) slot = &m.published;
            break;
        default:
            break;
        }
        if (slot != nullptr && *slot == nullptr) {
            *slot = key + 1;
            --missing;
        }
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

// Everything a call holds; released together on every path.
struct call_state {
    yyjson_doc *tracks = nullptr;
    yyjson_doc *downloaded = nullptr;
    void *work = nullptr;
    yyjson_mut_doc *out = nullptr;

    call_state() = default;
    call_state(const call_state &) = delete;
    call_state &operator=(const call_state &) = delete;
    ~call_state() {
        std::free(work);
        yyjson_doc_free(downloaded);
        yyjson_doc_free(tracks);
        yyjson_mut_doc_free(out);
    }
};

// Lack of memory after the input parsed: nothing partial is returned.
char *out_of_memory() noexcept {
    ntsrch::clear_error();
    return nullptr;
}

} // namespace

extern "C" NTSRCH_API char *
ntsrch_filter_and_sort_tracks_json(const char *tracks_json, const char *query, int downloaded_only,
                                   const char *downloaded_json, int sort_mode) {
    using namespace ntsrch;
    if (tracks_json == nullptr) {
        set_error("null tracks_json");
        return nullptr;
    }
    call_state st;
    // Without flags the reader copies the text and never writes to it.
    st.tracks = yyjson_read_opts(const_cast<char *>(tracks_json), std::strlen(tracks_json), 0,
                                 nullptr, nullptr);
    yyjson_val *root = yyjson_doc_get_root(st.tracks);
    if (!yyjson_is_arr(root)) {
        set_error("tracks_json must be array");
        return nullptr;
    }

    // The flag only shows through these two settings; otherwise the list is not read.
    const bool want_downloaded =
        downloaded_only != 0 || static_cast<unsigned>(sort_mode) == NTSRCH_SORT_DOWNLOADED_FIRST;
    downloaded_set dl;
    if (want_downloaded && downloaded_json != nullptr && downloaded_json[0] != '\0') {
        yyjson_read_err err;
        st.downloaded = yyjson_read_opts(const_cast<char *>(downloaded_json),
                                         std::strlen(downloaded_json), 0, nullptr, &err);
        // An unusable list is no set, but a reader out of memory must not pass as one.
        if (st.downloaded == nullptr && err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION)
            return out_of_memory();
        dl = make_downloaded_set(yyjson_doc_get_root(st.downloaded));
    }

    char filter[NTSRCH_QUERY_CAPACITY];
    trim_query(query, filter);

    const size_t n = yyjson_arr_size(root);
    size_t kept = 0;
    yyjson_val **order = nullptr;
    if (n != 0) {
        // One block: the working list, then the ordering scratch.
        const size_t per = sizeof(track_entry) + order_scratch_size(1);
        if (n > SIZE_MAX / per) return out_of_memory();
        st.work = std::malloc(n * per);
        if (st.work == nullptr) return out_of_memory();
        track_entry *list = static_cast<track_entry *>(st.work);
        void *scratch = list + n;

        yyjson_val *elem = unsafe_yyjson_get_first(root);
        for (size_t i = 0; i < n; ++i, elem = unsafe_yyjson_get_next(elem)) {
            if (!yyjson_is_obj(elem)) continue;
            const track_members m = find_members(elem);
            const char *title = text_of(m.title);
            const char *artist = text_of(m.artist);
            if (filter[0] != '\0' && !ci_contains(title, filter) && !ci_contains(artist, filter))
                continue;
            int32_t downloaded = 0;
            if (want_downloaded && yyjson_is_str(m.stream_url)) {
                const char *url = unsafe_yyjson_get_str(m.stream_url);
                const size_t url_len = std::strlen(url);
                downloaded = url_len != 0 && in_downloaded_set(dl, url, url_len) ? 1 : 0;
            }
            if (downloaded_only != 0 && downloaded == 0) continue;

            track_entry &e = list[kept++];
            e.source = elem;
            e.title = title;
            e.artist = artist;
            e.duration = yyjson_is_num(m.duration) ? unsafe_yyjson_get_num(m.duration) : 0.0;
            e.published =
                yyjson_is_num(m.published) ? published_from(unsafe_yyjson_get_num(m.published)) : 0;
            e.downloaded = downloaded;
            e.index = i;
        }
        order = order_tracks(list, kept, sort_mode, scratch);
    }

    st.out = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *arr = yyjson_mut_arr(st.out);
    if (arr == nullptr) return out_of_memory();
    yyjson_mut_doc_set_root(st.out, arr);
    for (size_t k = 0; k < kept; ++k) {
        yyjson_mut_val *copy = yyjson_val_mut_copy(st.out, order[k]);
        if (copy == nullptr) return out_of_memory();
        yyjson_mut_arr_append(arr, copy);
    }

    // The copies own their bytes: the inputs can go before the text is written.
    std::free(st.work);
    st.work = nullptr;
    yyjson_doc_free(st.downloaded);
    st.downloaded = nullptr;
    yyjson_doc_free(st.tracks);
    st.tracks = nullptr;

    char *text = yyjson_mut_write_opts(st.out, 0, nullptr, nullptr, nullptr);
    if (text == nullptr) return out_of_memory();
    clear_error();
    return text;
}
