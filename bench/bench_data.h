/* SPDX-License-Identifier: MIT */
// Generated inputs of the benchmarks and the yyjson-only floors they are measured against:
// the copy floor (parse, deep-copy the kept values into a mutable document, write it: what
// the module did before it wrote straight from the parsed input) and the direct floor
// (parse, write the whole read-only document: the least a yyjson-based call can do).
#ifndef NTSRCH_BENCH_DATA_H
#define NTSRCH_BENCH_DATA_H

#include "ntsrch.h"

#include <yyjson.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace bench {

struct GenTrack {
    std::string title, artist, url;
    long long published;
    int duration;
};

struct Dataset {
    std::string tracks_json, downloaded_json;
    std::vector<GenTrack> tracks;
    std::vector<bool> downloaded;
};

inline const char *const words[] = {"Night", "Skies",    "Dream",  "Fire",   "River",  "Golden",
                                    "Echo",  "Summer",   "Shadow", "Light",  "Heart",  "Road",
                                    "Été",   "Niño",     "Café",   "Straße", "Ōkami",  "Mañana",
                                    "Blue",  "Midnight", "Rain",   "Ocean",  "Silver", "Wild"};
inline const char *const first_names[] = {"Aurora", "Bruno", "Camille", "Dara", "Elif",
                                          "Felix",  "Greta", "Hiro",    "Inès", "Jonas",
                                          "Kai",    "Lena",  "Mateo",   "Nora", "Oskar"};
inline const char *const last_names[] = {"Vale",   "Kade",     "Roux",  "Sky",    "Berg",  "Costa",
                                         "Dahl",   "Øster",    "Ferro", "Grey",   "Holm",  "Ito",
                                         "Jansen", "Kowalski", "Lund",  "Moreau", "Novak", "Ortiz"};

// n generated tracks and a downloaded list of every tenth one, made once per n.
const Dataset &dataset(size_t n);

inline int fold_cmp(const std::string &a, const std::string &b) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    for (size_t i = 0;; ++i) {
        const int x = i < a.size() ? fold(a[i]) : 0, y = i < b.size() ? fold(b[i]) : 0;
        if (x != y || x == 0) return x - y;
    }
}

inline bool contains_love(const std::string &s) {
    std::string l = s;
    for (char &c : l)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return l.find("love") != std::string::npos;
}

// The kept positions in their final order, worked out independently of the module.
inline std::vector<size_t> expected_order(const Dataset &d, bool query, bool downloaded_only,
                                          int mode) {
    std::vector<size_t> v;
    for (size_t i = 0; i < d.tracks.size(); ++i) {
        if (query && !contains_love(d.tracks[i].title) && !contains_love(d.tracks[i].artist))
            continue;
        if (downloaded_only && !d.downloaded[i]) continue;
        v.push_back(i);
    }
    const auto &t = d.tracks;
    std::stable_sort(v.begin(), v.end(), [&](size_t a, size_t b) {
        switch (mode) {
        case NTSRCH_SORT_TITLE_ASC:
            return fold_cmp(t[a].title, t[b].title) < 0;
        case NTSRCH_SORT_ARTIST_ASC: {
            const int c = fold_cmp(t[a].artist, t[b].artist);
            return c != 0 ? c < 0 : fold_cmp(t[a].title, t[b].title) < 0;
        }
        case NTSRCH_SORT_NEWEST_FIRST:
            return t[a].published > t[b].published;
        case NTSRCH_SORT_SHORTEST_FIRST:
            return t[a].duration < t[b].duration;
        default:
            return false; // downloaded first without a list: input order
        }
    });
    return v;
}

// yyjson alone: parse the track list (and the downloaded list, when given), deep-copy the
// tracks `order` names, write.
inline char *copy_floor(const std::string &tracks, const std::string *downloaded,
                        const std::vector<size_t> &order, std::vector<yyjson_val *> &elems) {
    yyjson_doc *doc = yyjson_read(tracks.data(), tracks.size(), 0);
    yyjson_doc *dl = downloaded ? yyjson_read(downloaded->data(), downloaded->size(), 0) : nullptr;
    size_t idx, max;
    yyjson_val *v;
    elems.clear();
    yyjson_arr_foreach(yyjson_doc_get_root(doc), idx, max, v) elems.push_back(v);
    yyjson_mut_doc *out = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *arr = yyjson_mut_arr(out);
    yyjson_mut_doc_set_root(out, arr);
    for (size_t i : order)
        yyjson_mut_arr_append(arr, yyjson_val_mut_copy(out, elems[i]));
    yyjson_doc_free(dl);
    yyjson_doc_free(doc);
    char *text = yyjson_mut_write(out, 0, nullptr);
    yyjson_mut_doc_free(out);
    return text;
}

// yyjson alone: the same parse(s), copies and write.
inline char *copy_floor_filter(const Dataset &d, bool parse_downloaded,
                               const std::vector<size_t> &order, std::vector<yyjson_val *> &elems) {
    return copy_floor(d.tracks_json, parse_downloaded ? &d.downloaded_json : nullptr, order, elems);
}

// A unified result of n elements: 60% tracks, 25% albums, 15% artists, with the members
// the normalizer skips (query, paging, playlists, facets) around them.
inline std::string unified(int n) {
    const int tracks = n * 60 / 100, albums = n * 25 / 100, artists = n - tracks - albums;
    std::string s = R"({"query":"night sky","page":{"offset":0,"limit":50,"total":)" +
                    std::to_string(n) + R"(},"tracks":[)";
    char buf[512];
    for (int i = 0; i < tracks; ++i) {
        std::snprintf(
            buf, sizeof buf,
            R"(%s{"id":%d,"title":"Night Sky \u00e9t\u00e9 %d","artist":"Aurora Vale %d",)"
            R"("album":"Sky Atlas %d","duration":%d,"publishTimestamp":%d,)"
            R"("streamURL":"https:\/\/cdn.example\/s\/%d.mp3","explicit":%s,)"
            R"("rating":%d.%d,"genres":["ambient","synth pop"],)"
            R"("artwork":{"w":600,"h":600,"url":"https://img.example/%d.jpg"}})",
            i ? "," : "", i, i, i % 97, i % 31, 120 + i % 300, 1600000000 + i * 37, i,
            i % 7 == 0 ? "true" : "false", i % 5, i % 10, i);
        s += buf;
    }
    s += R"(],"catalogue":{"playlists":[{"id":"pl-1","name":"Late night"}],"albums":[)";
    for (int i = 0; i < albums; ++i) {
        std::snprintf(buf, sizeof buf,
                      R"(%s{"id":"al-%d","title":"Sky Atlas %d","artist":"Aurora Vale %d",)"
                      R"("year":%d,"trackCount":%d,"cover":"https://img.example/al/%d.jpg"})",
                      i ? "," : "", i, i, i % 97, 1970 + i % 55, 8 + i % 12, i);
        s += buf;
    }
    s += R"(],"artists":[)";
    for (int i = 0; i < artists; ++i) {
        std::snprintf(buf, sizeof buf,
                      R"(%s{"id":"ar-%d","name":"Dara Sky %d","followers":%d,)"
                      R"("tags":["dream pop","caf\u00e9"],"verified":%s})",
                      i ? "," : "", i, i, i * 13, i % 3 ? "false" : "true");
        s += buf;
    }
    s += R"(],"facets":{"genre":["ambient","synth pop"]}},"took_ms":12})";
    return s;
}

inline void copy_array(yyjson_mut_doc *out, yyjson_mut_val *dst, yyjson_val *src) {
    size_t idx, max;
    yyjson_val *v;
    yyjson_arr_foreach(src, idx, max, v) yyjson_mut_arr_append(dst, yyjson_val_mut_copy(out, v));
}

inline char *copy_floor_normalize(const std::string &text) {
    yyjson_doc *in =
        yyjson_read_opts(const_cast<char *>(text.data()), text.size(), 0, nullptr, nullptr);
    yyjson_val *root = yyjson_doc_get_root(in);
    yyjson_mut_doc *out = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *obj = yyjson_mut_obj(out);
    yyjson_mut_val *local = yyjson_mut_arr(out);
    yyjson_mut_val *catalogue = yyjson_mut_arr(out);
    copy_array(out, local, yyjson_obj_get(root, "tracks"));
    yyjson_val *cat = yyjson_obj_get(root, "catalogue");
    copy_array(out, catalogue, yyjson_obj_get(cat, "albums"));
    copy_array(out, catalogue, yyjson_obj_get(cat, "artists"));
    yyjson_mut_obj_add_uint(out, obj, "localCount", yyjson_mut_arr_size(local));
    yyjson_mut_obj_add_uint(out, obj, "catalogueCount", yyjson_mut_arr_size(catalogue));
    yyjson_mut_obj_add_val(out, obj, "local", local);
    yyjson_mut_obj_add_val(out, obj, "catalogue", catalogue);
    yyjson_mut_doc_set_root(out, obj);
    yyjson_doc_free(in);
    char *s = yyjson_mut_write_opts(out, 0, nullptr, nullptr, nullptr);
    yyjson_mut_doc_free(out);
    return s;
}

inline char *direct_floor(const std::string &text) {
    yyjson_doc *doc =
        yyjson_read_opts(const_cast<char *>(text.data()), text.size(), 0, nullptr, nullptr);
    char *s = yyjson_val_write_opts(yyjson_doc_get_root(doc), 0, nullptr, nullptr, nullptr);
    yyjson_doc_free(doc);
    return s;
}

// The filter cases timed, counted and compared; each runs on the generated track lists.
struct filter_case {
    const char *name;
    bool query; // "love": about a fifth of the tracks
    bool downloaded_only;
    int mode;
};

inline const filter_case filter_cases[] = {
    {"no_filter", false, false, NTSRCH_SORT_NONE},
    {"query_fifth", true, false, NTSRCH_SORT_NONE},
    {"sort_title", false, false, NTSRCH_SORT_TITLE_ASC},
    {"sort_artist", false, false, NTSRCH_SORT_ARTIST_ASC},
    {"sort_newest", false, false, NTSRCH_SORT_NEWEST_FIRST},
    {"sort_shortest", false, false, NTSRCH_SORT_SHORTEST_FIRST},
    {"sort_downloaded", false, false, NTSRCH_SORT_DOWNLOADED_FIRST},
    {"query_title", true, false, NTSRCH_SORT_TITLE_ASC},
    // A list of every tenth track's URL; bench_downloaded.cpp has the other lists.
    {"downloaded_only", false, true, NTSRCH_SORT_NONE},
};

inline char *filter_call(const Dataset &d, const filter_case &c) {
    return ntsrch_filter_and_sort_tracks_json(
        d.tracks_json.c_str(), c.query ? "love" : nullptr, c.downloaded_only,
        c.downloaded_only ? d.downloaded_json.c_str() : nullptr, c.mode);
}

} // namespace bench

#endif
