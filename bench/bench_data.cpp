// SPDX-License-Identifier: MIT
// The generated track lists, built once per size and kept for the whole run.
#include "bench_data.h"

namespace bench {

const Dataset &dataset(size_t n) {
    static std::map<size_t, Dataset> cache;
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
    Dataset &d = cache[n];
    std::mt19937_64 rng(n);
    auto pick = [&rng](const auto &arr) {
        return std::string(arr[rng() % (sizeof arr / sizeof arr[0])]);
    };
    d.tracks_json.assign(1, '[');
    for (size_t i = 0; i < n; ++i) {
        GenTrack t;
        const int nwords = 1 + static_cast<int>(rng() % 3);
        for (int w = 0; w < nwords; ++w) {
            if (w) t.title += ' ';
            t.title += pick(words);
        }
        if (rng() % 5 == 0) t.title = (rng() % 2 ? "Love " : "My love ") + t.title;
        const size_t artist_id = rng() % 2000;
        t.artist = std::string(first_names[artist_id % 15]) + " " + last_names[artist_id / 15 % 18];
        if (artist_id % 7 == 0) t.artist += " & The Band";
        char url[96];
        std::snprintf(url, sizeof url, "https://cdn.example.com/stream/%016llx.mp3",
                      static_cast<unsigned long long>(rng()));
        t.url = url;
        t.duration = 90 + static_cast<int>(rng() % 400);
        t.published = 1500000000LL + static_cast<long long>(rng() % 250000000);
        char buf[768];
        std::snprintf(buf, sizeof buf,
                      "%s{\"id\":%zu,\"title\":\"%s\",\"artist\":\"%s\",\"album\":\"%s %s\","
                      "\"streamURL\":\"%s\",\"duration\":%d,\"publishTimestamp\":%lld,"
                      "\"genre\":\"%s\",\"trackNumber\":%d,\"explicit\":%s,\"bitrate\":320,"
                      "\"artwork\":\"https://img.example.com/a/%zu.jpg\"}",
                      i ? "," : "", i, t.title.c_str(), t.artist.c_str(), pick(words).c_str(),
                      pick(words).c_str(), t.url.c_str(), t.duration, t.published,
                      rng() % 2 ? "pop" : "electronic", 1 + static_cast<int>(rng() % 14),
                      rng() % 9 == 0 ? "true" : "false", i);
        d.tracks_json += buf;
        d.tracks.push_back(t);
    }
    d.tracks_json += "]";
    // A tenth of the tracks, in an order of their own.
    std::vector<size_t> pickd;
    d.downloaded.assign(n, false);
    for (size_t i = 0; i < n; i += 10) {
        pickd.push_back(i);
        d.downloaded[i] = true;
    }
    std::shuffle(pickd.begin(), pickd.end(), rng);
    d.downloaded_json.assign(1, '[');
    for (size_t k = 0; k < pickd.size(); ++k)
        d.downloaded_json += (k ? ",\"" : "\"") + d.tracks[pickd[k]].url + "\"";
    d.downloaded_json += "]";
    return d;
}

} // namespace bench
