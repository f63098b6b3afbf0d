// SPDX-License-Identifier: MIT
// Unified results normalizer against the least any implementation must do: yyjson reading
// the same text, deep-copying the same elements into the same shape and writing it.
#include "bench_common.h"
#include "ntsrch.h"

#include <benchmark/benchmark.h>
#include <yyjson.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// A unified result of n elements: 60% tracks, 25% albums, 15% artists, with the members
// the normalizer skips (query, paging, playlists, facets) around them.
std::string unified(int n) {
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

void copy_array(yyjson_mut_doc *out, yyjson_mut_val *dst, yyjson_val *src) {
    size_t idx, max;
    yyjson_val *v;
    yyjson_arr_foreach(src, idx, max, v) yyjson_mut_arr_append(dst, yyjson_val_mut_copy(out, v));
}

char *floor_normalize(const std::string &text) {
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

void BM_Normalize(benchmark::State &state) {
    const std::string text = unified(static_cast<int>(state.range(0)));
    run_checked_against_floor(
        state, [&] { return ntsrch_normalize_unified_results_json(text.data(), text.size()); },
        [&] { return floor_normalize(text); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_Normalize)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
