// SPDX-License-Identifier: MIT
// Orders checked against a plain reference on generated lists whose texts crowd around
// shared prefixes of every length, where a shortcut in the comparison would show.
#include "ntsrch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct Track {
    std::string json;
    std::string title;
    bool has_artist;
    std::string artist;
    long long published;
    int duration;
    bool downloaded;
};

int ref_cmp(const std::string &a, const std::string &b) {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    for (size_t i = 0;; ++i) {
        const int x = i < a.size() ? fold(a[i]) : 0, y = i < b.size() ? fold(b[i]) : 0;
        if (x != y || x == 0) return x - y;
    }
}

std::string random_text(std::mt19937 &rng) {
    static const char *const stems[] = {"",
                                        "abcdefg",
                                        "abcdefgh",
                                        "ABCDEFGHIJKLMNO",
                                        "abcdefghijklmnop",
                                        "abcdefghijklmnopqrstuvw",
                                        "abcdefghijklmnopqrstuvwx"};
    static const char *const tails[] = {"", "a", "A", "b", "~", "\x7f", "\xc3\xa9", "Z"};
    // Long shared prefixes reach past every shortcut the text orders take.
    static const std::string long_stem(200, 'q');
    const unsigned pick = rng() % 9;
    std::string s = pick < 7 ? stems[pick] : long_stem + (pick == 8 ? "Q" : "");
    const unsigned extra = rng() % 4;
    for (unsigned i = 0; i < extra; ++i)
        s += tails[rng() % 8];
    return s;
}

std::vector<Track> generate(unsigned seed, int n) {
    std::mt19937 rng(seed);
    std::vector<Track> v;
    for (int i = 0; i < n; ++i) {
        Track t;
        t.title = random_text(rng);
        t.has_artist = rng() % 5 != 0;
        t.artist = t.has_artist ? random_text(rng) : "";
        t.published = static_cast<long long>(rng() % 7) - 3;
        t.duration = static_cast<int>(rng() % 5) * 60;
        t.downloaded = rng() % 3 == 0;
        t.json = "{\"i\":" + std::to_string(i) + ",\"title\":\"" + t.title + "\"";
        if (t.has_artist) t.json += ",\"artist\":\"" + t.artist + "\"";
        t.json += ",\"streamURL\":\"" + std::string(t.downloaded ? "d" : "n") + std::to_string(i) +
                  "\",\"duration\":" + std::to_string(t.duration) +
                  ",\"publishTimestamp\":" + std::to_string(t.published) + "}";
        v.push_back(t);
    }
    return v;
}

std::string array_of(const std::vector<Track> &v) {
    std::string s = "[";
    for (size_t i = 0; i < v.size(); ++i)
        s += (i ? "," : "") + v[i].json;
    return s + "]";
}

std::string artist_key(const Track &t) {
    return t.artist.empty() ? "\x7f\x7f\x7f" : t.artist;
}

class TrackOrderReference : public ::testing::TestWithParam<int> {};

TEST_P(TrackOrderReference, MatchesStableReference) {
    const int mode = GetParam();
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const std::vector<Track> tracks = generate(seed, 200);
        std::string downloaded = "[";
        for (size_t i = 0; i < tracks.size(); ++i)
            if (tracks[i].downloaded) downloaded += "\"d" + std::to_string(i) + "\",";
        downloaded += "\"x\"]";

        std::vector<Track> expected = tracks;
        std::stable_sort(expected.begin(), expected.end(), [mode](const Track &a, const Track &b) {
            switch (mode) {
            case NTSRCH_SORT_TITLE_ASC:
                return ref_cmp(a.title, b.title) < 0;
            case NTSRCH_SORT_ARTIST_ASC: {
                const int c = ref_cmp(artist_key(a), artist_key(b));
                return c != 0 ? c < 0 : ref_cmp(a.title, b.title) < 0;
            }
            case NTSRCH_SORT_NEWEST_FIRST:
                return a.published > b.published;
            case NTSRCH_SORT_SHORTEST_FIRST:
                return a.duration < b.duration;
            default:
                return a.downloaded && !b.downloaded;
            }
        });
        const std::string input = array_of(tracks);
        char *out =
            ntsrch_filter_and_sort_tracks_json(input.c_str(), nullptr, 0, downloaded.c_str(), mode);
        ASSERT_NE(out, nullptr) << ntsrch_last_error();
        EXPECT_EQ(std::string(out), array_of(expected)) << "seed " << seed;
        ntsrch_free(out);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, TrackOrderReference,
                         ::testing::Values(NTSRCH_SORT_TITLE_ASC, NTSRCH_SORT_ARTIST_ASC,
                                           NTSRCH_SORT_NEWEST_FIRST, NTSRCH_SORT_SHORTEST_FIRST,
                                           NTSRCH_SORT_DOWNLOADED_FIRST));

} // namespace
