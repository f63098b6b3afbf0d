// SPDX-License-Identifier: MIT
// ntsrch_filter_and_sort_tracks_json against a small reference model: the result must be
// exactly the input objects that pass the filter, in the order the sort mode defines (input
// order breaking every tie), written byte for byte as a deep copy into a mutable document
// would be. Identity, membership, order and the written form are all compared.
//
// Input: byte 0 sort mode (signed), byte 1 flags (bit 0 downloaded_only, bit 1 query
// given, bit 2 downloaded list given), then tracks \0 query \0 downloaded.
#include "fuzz_common.h"

#include <algorithm>

namespace {

struct Entry {
    yyjson_val *val;
    const char *title, *artist;
    double duration;
    int64_t published;
    int downloaded;
    size_t index;
};

const char *str_member(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_getn(obj, key, std::strlen(key));
    return yyjson_is_str(v) ? yyjson_get_str(v) : "";
}

double num_member(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_getn(obj, key, std::strlen(key));
    return yyjson_is_num(v) ? yyjson_get_num(v) : 0.0;
}

int64_t to_published(double d) {
    if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) return static_cast<int64_t>(d);
    return INT64_MIN;
}

bool ci_contains(const char *text, const char *needle) {
    if (*needle == '\0') return true;
    for (; *text != '\0'; ++text) {
        size_t k = 0;
        while (needle[k] != '\0' && text[k] != '\0' && fz::fold(text[k]) == fz::fold(needle[k]))
            ++k;
        if (needle[k] == '\0') return true;
    }
    return false;
}

int ci_cmp(const char *a, const char *b) {
    for (;; ++a, ++b) {
        const int x = fz::fold(*a), y = fz::fold(*b);
        if (x != y || x == 0) return x - y;
    }
}

// Negative when l goes before r, ignoring the index tie-break.
int key_cmp(int mode, const Entry &l, const Entry &r) {
    static const char none[] = "\x7F\x7F\x7F";
    switch (mode) {
    case NTSRCH_SORT_TITLE_ASC:
        return ci_cmp(l.title, r.title);
    case NTSRCH_SORT_ARTIST_ASC: {
        const int c = ci_cmp(*l.artist ? l.artist : none, *r.artist ? r.artist : none);
        return c != 0 ? c : ci_cmp(l.title, r.title);
    }
    case NTSRCH_SORT_NEWEST_FIRST:
        return l.published == r.published ? 0 : l.published > r.published ? -1 : 1;
    case NTSRCH_SORT_SHORTEST_FIRST:
        return l.duration < r.duration ? -1 : l.duration > r.duration ? 1 : 0;
    case NTSRCH_SORT_DOWNLOADED_FIRST:
        return l.downloaded == r.downloaded ? 0 : l.downloaded ? -1 : 1;
    default:
        return 0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const fz::Input in = fz::split(data, size, 2, 3);
    const int mode = static_cast<int8_t>(in.b0);
    const int downloaded_only = in.b1 & 1;
    const std::string &tracks = in.parts[0];
    const char *query = (in.b1 & 2) ? in.parts[1].c_str() : nullptr;
    const char *downloaded = (in.b1 & 4) ? in.parts[2].c_str() : nullptr;

    char *out = ntsrch_filter_and_sort_tracks_json(tracks.c_str(), query, downloaded_only,
                                                   downloaded, mode);
    const std::string err = ntsrch_last_error();
    const bool is_null = out == nullptr;
    const std::string got = out ? out : "";
    ntsrch_free(out);

    yyjson_doc *doc = fz::read(tracks.c_str(), std::strlen(tracks.c_str()));
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (!yyjson_is_arr(root)) {
        yyjson_doc_free(doc);
        fz::check(is_null && err == "tracks_json must be array", "non-array track list accepted",
                  got);
        return 0;
    }
    fz::check(!is_null && err.empty(), "valid track list rejected", err);
    yyjson_doc *written = fz::read(got.data(), got.size());
    fz::check(yyjson_is_arr(yyjson_doc_get_root(written)), "result is not a JSON array", got);
    yyjson_doc_free(written);

    yyjson_doc *dl =
        downloaded && *downloaded ? fz::read(downloaded, std::strlen(downloaded)) : nullptr;
    yyjson_val *dl_root = yyjson_doc_get_root(dl);
    const bool have_set = yyjson_is_arr(dl_root) && yyjson_arr_size(dl_root) > 0;

    char q[256] = {0};
    if (query != nullptr) {
        while (fz::is_space(*query))
            ++query;
        std::snprintf(q, sizeof q, "%s", query);
        for (size_t n = std::strlen(q); n > 0 && fz::is_space(q[n - 1]); --n)
            q[n - 1] = '\0';
    }

    std::vector<Entry> kept;
    size_t i, max;
    yyjson_val *el;
    yyjson_arr_foreach(root, i, max, el) {
        if (!yyjson_is_obj(el)) continue;
        Entry e{el,
                str_member(el, "title"),
                str_member(el, "artist"),
                num_member(el, "duration"),
                to_published(num_member(el, "publishTimestamp")),
                0,
                i};
        yyjson_val *url = yyjson_obj_getn(el, "streamURL", 9);
        if (yyjson_is_str(url) && *yyjson_get_str(url) != '\0' && have_set) {
            size_t j, jmax;
            yyjson_val *d;
            yyjson_arr_foreach(dl_root, j, jmax, d) {
                if (yyjson_is_str(d) && std::strcmp(yyjson_get_str(d), yyjson_get_str(url)) == 0) {
                    e.downloaded = 1;
                    break;
                }
            }
        }
        if (downloaded_only && !e.downloaded) continue;
        if (q[0] != '\0' && !ci_contains(e.title, q) && !ci_contains(e.artist, q)) continue;
        kept.push_back(e);
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [mode](const Entry &l, const Entry &r) { return key_cmp(mode, l, r) < 0; });
    // The kept values deep-copied into a mutable document and written as one: the
    // module's direct writing must give the same bytes.
    yyjson_mut_doc *copy = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *arr = yyjson_mut_arr(copy);
    yyjson_mut_doc_set_root(copy, arr);
    for (const Entry &e : kept)
        yyjson_mut_arr_append(arr, yyjson_val_mut_copy(copy, e.val));
    char *written_copy = yyjson_mut_write(copy, 0, nullptr);
    fz::check(written_copy != nullptr, "reference writer ran out of memory");
    const std::string want = written_copy;
    std::free(written_copy);
    yyjson_mut_doc_free(copy);
    yyjson_doc_free(dl);
    yyjson_doc_free(doc);
    fz::check(got == want, "result differs from the kept objects in sort order",
              "mode " + std::to_string(mode) + "\n got: " + got + "\nwant: " + want);
    return 0;
}
