// SPDX-License-Identifier: MIT
#include "gen_data.h"
#include "ntsrch.h"
#include "../src/url_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
    bool null;
    std::string text;
    std::string error;
};

Result filter(const char *tracks, const char *query = nullptr, int downloaded_only = 0,
              const char *downloaded = nullptr, int sort_mode = NTSRCH_SORT_NONE) {
    char *out =
        ntsrch_filter_and_sort_tracks_json(tracks, query, downloaded_only, downloaded, sort_mode);
    Result r{out == nullptr, out != nullptr ? out : "", ntsrch_last_error()};
    ntsrch_free(out);
    return r;
}

std::string array_of(const std::vector<std::string> &items) {
    std::string s = "[";
    for (size_t i = 0; i < items.size(); ++i)
        s += (i ? "," : "") + items[i];
    return s + "]";
}

// Tracks are written compactly, so the expected output is the kept ones in order.
struct FilterCase {
    const char *name;
    std::vector<std::string> tracks;
    const char *query;
    int downloaded_only;
    const char *downloaded;
    int sort_mode;
    std::vector<int> kept;
};

void PrintTo(const FilterCase &c, std::ostream *os) {
    *os << c.name;
}

// A row of no query and no downloaded list: only the order is under test.
FilterCase ordered(const char *name, std::vector<std::string> tracks, int sort_mode,
                   std::vector<int> kept) {
    return {name, std::move(tracks), nullptr, 0, nullptr, sort_mode, std::move(kept)};
}

class TrackFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(TrackFilter, KeepsAndOrders) {
    const FilterCase &c = GetParam();
    std::vector<std::string> expected;
    for (int i : c.kept)
        expected.push_back(c.tracks[i]);
    filter(nullptr); // a stale message must be cleared by success
    const std::string input = array_of(c.tracks);
    Result r = filter(input.c_str(), c.query, c.downloaded_only, c.downloaded, c.sort_mode);
    ASSERT_FALSE(r.null) << r.error;
    EXPECT_EQ(r.text, array_of(expected));
    EXPECT_EQ(r.error, "");
}

const std::string a254(254, 'a');
const std::string long_query = "  " + a254 + " b"; // 256 bytes once leading spaces go
const std::string a300(300, 'a');
const std::string a255(255, 'a');

const char *const T_ZETA = R"({"title":"Zeta","artist":"B","streamURL":"u1"})";
const char *const T_ALPHA = R"({"title":"Alpha","artist":"A","streamURL":"u2"})";

INSTANTIATE_TEST_SUITE_P(
    Filtering, TrackFilter,
    ::testing::Values(
        ordered("EmptyArray", {}, 0, {}),
        ordered("NonObjectsDropped",
                {"1", "\"x\"", "[]", "null", "true", "{}", "[{\"title\":\"a\"}]"}, 0, {5}),
        FilterCase{"EmptyObjectDroppedByQuery", {"{}"}, "a", 0, nullptr, 0, {}},
        FilterCase{"EmptyObjectDroppedByDownloadedOnly", {"{}"}, nullptr, 1, "[\"u\"]", 0, {}},
        FilterCase{"BlankQueryIsNoQuery", {"{}", T_ZETA}, " \t\n\v\f\r", 0, nullptr, 0, {0, 1}},
        FilterCase{"QueryTrimmedAndFolded", {T_ZETA, T_ALPHA}, "  ALP  ", 0, nullptr, 0, {1}},
        FilterCase{"QueryMatchesArtist", {T_ZETA, T_ALPHA}, "b", 0, nullptr, 0, {0}},
        FilterCase{"InnerWhitespaceKept",
                   {R"({"title":"Night Sky"})", R"({"title":"NightSky"})"},
                   " t s ",
                   0,
                   nullptr,
                   0,
                   {0}},
        FilterCase{"OnlyAsciiFolds",
                   {R"({"title":"été"})", R"({"title":"ÉTÉ"})", R"({"title":"Été"})"},
                   "É",
                   0,
                   nullptr,
                   0,
                   {1, 2}},
        FilterCase{"TitleUsedUpToNul",
                   {R"({"title":"a\u0000b"})", R"({"title":"ab","artist":"x\u0000b"})"},
                   "b",
                   0,
                   nullptr,
                   0,
                   {1}},
        FilterCase{"QueryCutAt255Bytes",
                   {"{\"title\":\"" + a254 + "\"}", "{\"title\":\"" + a254 + "b\"}"},
                   long_query.c_str(),
                   0,
                   nullptr,
                   0,
                   {0, 1}},
        FilterCase{"LongQueryCut",
                   {"{\"title\":\"" + a255 + "\"}", "{\"title\":\"" + a254 + "\"}"},
                   a300.c_str(),
                   0,
                   nullptr,
                   0,
                   {0}},
        FilterCase{"FirstTitleWins",
                   {R"({"title":"Zeta","title":"Alpha"})", R"({"title":1,"title":"Alpha"})"},
                   "alp",
                   0,
                   nullptr,
                   0,
                   {}},
        FilterCase{"FirstTitleWinsBothCopied",
                   {R"({"title":"Zeta","title":"Alpha"})"},
                   "zet",
                   0,
                   nullptr,
                   0,
                   {0}},
        FilterCase{"KeysAreExact",
                   {R"({"Title":"x","title ":"x","title":"y"})", R"({"titl":"x"})"},
                   "x",
                   0,
                   nullptr,
                   0,
                   {}},
        FilterCase{"WrongTypesAreEmpty",
                   {R"({"title":["x"],"artist":{"x":1}})", R"({"title":null,"artist":"x"})"},
                   "x",
                   0,
                   nullptr,
                   0,
                   {1}}),
    [](const auto &info) { return std::string(info.param.name); });

const char *const U1 = R"({"streamURL":"u1"})";
const char *const U2 = R"({"streamURL":"u2"})";
const char *const LONG1 = R"({"streamURL":"https://cdn.example/t/1.mp3"})";
const char *const LONG2 = R"({"streamURL":"https://cdn.example/t/2.mp3"})";

INSTANTIATE_TEST_SUITE_P(
    Downloaded, TrackFilter,
    ::testing::Values(
        FilterCase{"Member", {U1, U2, "{}"}, nullptr, 1, R"(["u2"])", 0, {1}},
        FilterCase{"LongUrls",
                   {LONG1, LONG2},
                   nullptr,
                   1,
                   R"(["https://cdn.example/t/3.mp3","https://cdn.example/t/2.mp3"])",
                   0,
                   {1}},
        FilterCase{"SameLengthDifferentStart",
                   {LONG1},
                   nullptr,
                   1,
                   R"(["xttps://cdn.example/t/1.mp3"])",
                   0,
                   {}},
        FilterCase{"PrefixIsNotEqual",
                   {U1, LONG1},
                   nullptr,
                   1,
                   R"(["u","u12","https://cdn.example/t/1.mp"])",
                   0,
                   {}},
        FilterCase{
            "EmptyUrlNeverDownloaded", {R"({"streamURL":""})"}, nullptr, 1, R"([""])", 0, {}},
        FilterCase{"NonStringsIgnored",
                   {U1, R"({"streamURL":1})"},
                   nullptr,
                   1,
                   R"([1,null,{"u1":1},["u1"],"u1"])",
                   0,
                   {0}},
        FilterCase{"NestedListStillScanned", {U2}, nullptr, 1, R"([{"a":[1,2]},"u2"])", 0, {0}},
        FilterCase{"UrlKeyIsExact", {R"({"streamURl":"u1"})", U1}, nullptr, 1, R"(["u1"])", 0, {1}},
        FilterCase{"NullList", {U1}, nullptr, 1, nullptr, 0, {}},
        FilterCase{"EmptyText", {U1}, nullptr, 1, "", 0, {}},
        FilterCase{"InvalidList", {U1}, nullptr, 1, "[\"u1\",", 0, {}},
        FilterCase{"ObjectList", {U1}, nullptr, 1, R"({"u1":"u1"})", 0, {}},
        FilterCase{"EmptyList", {U1}, nullptr, 1, "[]", 0, {}},
        FilterCase{"UnusedListMayBeInvalid", {U1, U2}, nullptr, 0, "[", 0, {0, 1}},
        FilterCase{
            "UrlUpToNulMatches", {R"({"streamURL":"u1\u0000x"})"}, nullptr, 1, R"(["u1"])", 0, {0}},
        FilterCase{"ListUpToNulMatches",
                   {U1, LONG1},
                   nullptr,
                   1,
                   R"(["u1\u0000zz","https://cdn.example/t/1.mp3\u0000"])",
                   0,
                   {0, 1}},
        FilterCase{"BothCutAtNul",
                   {R"({"streamURL":"u1\u0000a"})",
                    R"({"streamURL":"https://cdn.example/t/2.mp3\u0000abcdefgh"})"},
                   nullptr,
                   1,
                   R"(["x",["y"],"u1\u0000b","https://cdn.example/t/2.mp3\u0000z"])",
                   0,
                   {0, 1}},
        FilterCase{"NulInListDoesNotWidenMatch",
                   {R"({"streamURL":"u12"})", LONG2},
                   nullptr,
                   1,
                   R"(["u1\u0000","https://cdn.example/t/2\u0000.mp3"])",
                   0,
                   {}},
        FilterCase{"LeadingNulIsEmptyUrl",
                   {R"({"streamURL":"\u0000a"})"},
                   nullptr,
                   1,
                   R"(["","\u0000a"])",
                   0,
                   {}},
        FilterCase{"FirstStreamUrlWins",
                   {R"({"streamURL":"u3","streamURL":"u1"})"},
                   nullptr,
                   1,
                   R"(["u1"])",
                   0,
                   {}},
        FilterCase{"DuplicatesInList",
                   {U1, U2, R"({"streamURL":"u3"})"},
                   nullptr,
                   1,
                   R"(["u2","u1","u2","u1\u0000x","u2","u1"])",
                   0,
                   {0, 1}},
        FilterCase{"OnlyNonStringsInList",
                   {U1, U2},
                   nullptr,
                   0,
                   R"([1,true,null,[],{}])",
                   NTSRCH_SORT_DOWNLOADED_FIRST,
                   {0, 1}},
        FilterCase{"NestedValuesNotSearched",
                   {U1, U2, R"({"streamURL":"u3"})"},
                   nullptr,
                   0,
                   R"([["u1"],{"u2":"u2"},[["u3"]],"u3"])",
                   NTSRCH_SORT_DOWNLOADED_FIRST,
                   {2, 0, 1}},
        FilterCase{"EmptyStringsAmongMembers",
                   {R"({"streamURL":""})", U1, R"({"streamURL":"\u0000"})"},
                   nullptr,
                   1,
                   R"(["","\u0000u1","u1",""])",
                   0,
                   {1}},
        // Lists read straight from their text, and texts that leave that path part way.
        FilterCase{"SpacesAroundPlainMembers",
                   {U1, U2, R"({"streamURL":"u3"})"},
                   nullptr,
                   1,
                   " \t[\n \"u1\" ,\r\n\"u3\"\t] \n",
                   0,
                   {0, 2}},
        FilterCase{"EscapeAfterPlainMembers",
                   {U1, U2, LONG1},
                   nullptr,
                   1,
                   R"(["u1","https:\/\/cdn.example\/t\/1.mp3","u\u0032"])",
                   0,
                   {0, 1, 2}},
        FilterCase{"NonAsciiMember",
                   {"{\"streamURL\":\"https://cdn.example/\xC3\xA9t\xC3\xA9\"}", U1},
                   nullptr,
                   1,
                   "[\"u2\",\"https://cdn.example/\xC3\xA9t\xC3\xA9\"]",
                   0,
                   {0}},
        FilterCase{
            "DelByteIsPlain", {"{\"streamURL\":\"u\x7F\"}", U1}, nullptr, 1, "[\"u\x7F\"]", 0, {0}},
        FilterCase{"QuoteInTrackUrlIsNotTwoMembers",
                   {R"({"streamURL":"u1\",\"u2"})", R"({"streamURL":"u1\""})", U2},
                   nullptr,
                   1,
                   R"(["u1","u2"])",
                   0,
                   {2}},
        FilterCase{"OnlyEmptyPlainStrings",
                   {U1},
                   nullptr,
                   0,
                   R"(["",""])",
                   NTSRCH_SORT_DOWNLOADED_FIRST,
                   {0}},
        FilterCase{"SpacedEmptyList", {U1}, nullptr, 1, " [ ] ", 0, {}},
        FilterCase{"PlainStringRoot", {U1}, nullptr, 1, R"("u1")", 0, {}},
        FilterCase{"TrailingTextIsNoList", {U1}, nullptr, 1, R"(["u1"] x)", 0, {}},
        FilterCase{"TrailingCommaIsNoList", {U1}, nullptr, 1, R"(["u1",])", 0, {}},
        FilterCase{"MissingCommaIsNoList", {U1, U2}, nullptr, 1, R"(["u1" "u2"])", 0, {}},
        FilterCase{"UnclosedStringIsNoList", {U1}, nullptr, 1, R"(["u1)", 0, {}},
        FilterCase{"RawTabIsNoList",
                   {R"({"streamURL":"u\t1"})", U1},
                   nullptr,
                   1,
                   "[\"u1\",\"u\t1\"]",
                   0,
                   {}},
        FilterCase{"CombinedWithQuery",
                   {R"({"title":"x","streamURL":"u1"})", R"({"title":"y","streamURL":"u2"})",
                    R"({"title":"x","streamURL":"u3"})"},
                   "X",
                   1,
                   R"(["u1","u2"])",
                   0,
                   {0}}),
    [](const auto &info) { return std::string(info.param.name); });

// A URL of each length around the hash's word size, cut by an escaped NUL on both sides:
// only the bytes before the NUL may decide, whatever the byte order.
TEST(TrackFilterDownloaded, EveryTailLengthCutAtNul) {
    for (size_t len = 1; len <= 25; ++len) {
        std::string url;
        for (size_t i = 0; i < len; ++i)
            url += static_cast<char>('a' + i % 26);
        std::string changed = url;
        changed.back() = 'Z';
        const std::string tracks = array_of(
            {"{\"streamURL\":\"" + url + "\\u0000tail\"}", "{\"streamURL\":\"" + changed + "\"}",
             "{\"streamURL\":\"" + url + "x\"}", "{\"streamURL\":\"" + url.substr(1) + "\"}"});
        const std::string list = "[\"" + url + "\\u0000other\",\"" + url + "y\"]";
        Result r = filter(tracks.c_str(), nullptr, 1, list.c_str(), 0);
        ASSERT_FALSE(r.null) << r.error;
        EXPECT_EQ(r.text, "[{\"streamURL\":\"" + url + "\\u0000tail\"}]") << "length " << len;
    }
}

// Up to count texts of 32 bytes below 0x80 whose hashes share their top 40 bits; with
// full, every hash is target itself. Plain texts need no escape in JSON.
std::vector<std::string> colliding(size_t count, uint64_t target, bool full, bool plain,
                                   uint64_t from = 0) {
    std::vector<std::string> out;
    char text[32];
    std::memcpy(text, "https://cdn.tst/", 16);
    for (uint64_t c = from; out.size() < count && c < from + (1u << 28); ++c) {
        // A counter in the third word, lowest digit first: the free word's top bits follow
        // the low bits of the word before it.
        for (uint64_t d = 0, v = c; d < 8; ++d, v /= 16)
            text[16 + d] = "0123456789abcdef"[v % 16];
        const uint64_t want = full ? target : (target & ~0xFFFFFFULL) | (out.size() + 1);
        const uint64_t w = ntsrch::url_hash_last_word(
            ntsrch::url_hash_words(ntsrch::URL_HASH_SEED, text, 24), 32, want);
        bool ascii = true;
        for (int b = 0; b < 8; ++b) {
            const unsigned byte = (w >> (8 * b)) & 0xFF;
            ascii = ascii && byte != 0 && byte < 0x80 &&
                    (!plain || (byte >= 0x20 && byte != '"' && byte != '\\'));
            text[24 + b] = static_cast<char>(byte);
        }
        if (ascii) out.emplace_back(text, 32);
    }
    return out;
}

struct CollisionCase {
    const char *name;
    bool full;
    bool plain; // a list read from its text, without the reader
};

// Printed by name: gtest would otherwise dump the struct's bytes, padding included.
void PrintTo(const CollisionCase &c, std::ostream *os) {
    *os << c.name;
}

class TrackFilterCollisions : public ::testing::TestWithParam<CollisionCase> {};

// Texts built to collide in the set's hash, all in one slot of the table: the answer must
// not change once the table gives way. Tracks alternate between list members, colliding
// texts that are not members, members cut by an escaped NUL and members one byte short.
TEST_P(TrackFilterCollisions, SameAnswerAsAPlainSet) {
    const bool full = GetParam().full, plain = GetParam().plain;
    const uint64_t target = 0x5DEECE66D2B4A1F3ULL;
    const std::vector<std::string> in = colliding(300, target, full, plain);
    const std::vector<std::string> out = colliding(100, target, full, plain, 1ULL << 30);
    ASSERT_EQ(in.size() + out.size(), 400u);
    for (const std::string &t : in) // the texts do collide
        ASSERT_EQ(ntsrch::url_hash(t.data(), t.size()) >> (full ? 0 : 24),
                  target >> (full ? 0 : 24));
    std::vector<std::string> list{"\"\""}, tracks;
    if (!plain) list.insert(list.end(), {"7", "[\"x\"]"});
    for (size_t i = 0; i < in.size(); ++i) { // not in hash order
        list.push_back(gen::json_quote(in[i * 7 % in.size()]));
        if (i % 3 == 0) list.push_back(list.back()); // duplicates
    }
    std::vector<int> kept;
    for (size_t i = 0; i < 400; ++i) {
        std::string url;
        bool member = false;
        switch (i % 4) {
        case 0:
            url = gen::json_quote(in[(i * 7) % in.size()]);
            member = true;
            break;
        case 1:
            url = gen::json_quote(out[i / 4]);
            break;
        case 2: {
            url = gen::json_quote(in[(i * 11) % in.size()]);
            url.insert(url.size() - 1, "\\u0000zz");
            member = true;
            break;
        }
        default:
            url = gen::json_quote(in[i % in.size()].substr(0, 31));
            break;
        }
        tracks.push_back("{\"id\":" + std::to_string(i) + ",\"streamURL\":" + url + "}");
        if (member) kept.push_back(static_cast<int>(i));
    }
    std::vector<std::string> expected;
    for (int i : kept)
        expected.push_back(tracks[i]);
    const std::string tracks_json = array_of(tracks), list_json = array_of(list);
    Result r = filter(tracks_json.c_str(), nullptr, 1, list_json.c_str(), 0);
    ASSERT_FALSE(r.null) << r.error;
    EXPECT_EQ(r.text, array_of(expected));
}

INSTANTIATE_TEST_SUITE_P(Lists, TrackFilterCollisions,
                         ::testing::Values(CollisionCase{"OneHash", true, false},
                                           CollisionCase{"OneSlot", false, false},
                                           CollisionCase{"OneHashPlain", true, true},
                                           CollisionCase{"OneSlotPlain", false, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// A list of the size a host holds, half of it naming tracks, against a plain set.
TEST(TrackFilterDownloaded, LargeListAgainstPlainSet) {
    std::vector<std::string> tracks, list;
    std::set<std::string> members;
    uint64_t x = 88172645463325252ULL;
    auto next = [&x] {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string url = "https://cdn" + std::to_string(next() % 8) + ".example.net/s/" +
                                std::to_string(next()) + "/" + std::to_string(i) + "?fmt=aac";
        tracks.push_back("{\"streamURL\":\"" + url + "\"}");
        if (next() % 2 != 0) {
            list.push_back("\"" + url + "\"");
            members.insert(url);
        } else {
            list.push_back("\"" + url + "x\"");
        }
    }
    std::vector<std::string> expected;
    for (const std::string &t : tracks)
        if (members.count(t.substr(14, t.size() - 16)) != 0) expected.push_back(t);
    ASSERT_GT(expected.size(), 9000u);
    const std::string tracks_json = array_of(tracks), list_json = array_of(list);
    Result r = filter(tracks_json.c_str(), nullptr, 1, list_json.c_str(), 0);
    ASSERT_FALSE(r.null) << r.error;
    EXPECT_TRUE(r.text == array_of(expected));
}

std::vector<std::string> titled(std::initializer_list<const char *> titles) {
    std::vector<std::string> v;
    for (const char *t : titles)
        v.push_back(std::string("{\"title\":\"") + t + "\"}");
    return v;
}

std::vector<std::string> by_member(const char *member, std::initializer_list<const char *> raw) {
    std::vector<std::string> v;
    for (const char *r : raw)
        v.push_back(r[0] ? std::string("{\"") + member + "\":" + r + "}" : std::string("{}"));
    return v;
}

const std::string long24 = "abcdefghijklmnopqrstuvwx"; // prefix-length boundaries
const std::string t_long_b = long24 + "yz b", t_long_a = long24 + "YZ A",
                  t_long_A = long24 + "yz a";

INSTANTIATE_TEST_SUITE_P(
    Orders, TrackFilter,
    ::testing::Values(
        ordered("TitleFoldedTiesKeepInput", titled({"b", "A", "a"}), 1, {1, 2, 0}),
        ordered("TitlePrefixFirst", titled({"abcd", "abc", "", "ABCDEFGHI", "abcdefgh"}), 1,
                {2, 1, 0, 4, 3}),
        ordered("TitleHighBytesLast", titled({"é", "~", "Z", "\x7f"}), 1, {2, 1, 3, 0}),
        ordered("TitleBeyondPrefix",
                titled({t_long_b.c_str(), t_long_a.c_str(), t_long_A.c_str(), long24.c_str()}), 1,
                {3, 1, 2, 0}),
        ordered("TitleUpToNul", titled({"b", "a\\u0000z", "a", "a\\u0000a"}), 1, {1, 2, 3, 0}),
        ordered("TitleMissingOrNotString",
                {R"({"title":"a"})", R"({"title":3})", "{}", R"({"title":""})"}, 1, {1, 2, 3, 0}),
        ordered("ArtistMissingAndEmptyTieThenTitle",
                {R"({"title":"b"})", R"({"title":"a","artist":""})",
                 R"({"title":"c","artist":"z"})"},
                2, {2, 1, 0}),
        ordered("ArtistMissingBetweenAsciiAndHigh",
                {R"({"title":"a","artist":"é"})", R"({"title":"b"})",
                 R"({"title":"c","artist":"~x"})", "{\"title\":\"d\",\"artist\":\"\x7f\x7f\"}",
                 "{\"title\":\"e\",\"artist\":\"\x7f\x7f\x7f\x7f\"}"},
                2, {2, 3, 1, 4, 0}),
        ordered("ArtistThenTitleThenInput",
                {R"({"title":"Song No. 5","artist":"The Long Named Orchestra"})",
                 R"({"title":"song no. 3","artist":"the long named orchestra"})",
                 R"({"title":"Song No. 3","artist":"The Long Named Orchestra"})",
                 R"({"title":"a","artist":"The Long Named Orchestrb"})",
                 R"({"title":"z","artist":"Ab"})", R"({"title":"y","artist":"ab"})",
                 R"({"title":"Symphony 2","artist":"AB"})",
                 R"({"title":"symphony 1","artist":"ab"})"},
                2, {7, 6, 5, 4, 1, 2, 0, 3}),
        // Keys as long as a sort key and one byte off: read as the key, each would flip
        // the order.
        ordered("ArtistKeyIsExact", {R"({"artist":"b"})", R"({"artisT":"a"})"}, 2, {0, 1}),
        ordered("PublishedKeyIsExact", {R"({"publishTimestamP":5})", R"({"publishTimestamp":1})"},
                3, {1, 0}),
        ordered("DurationKeyIsExact", {R"({"duration":5})", R"({"duratioN":9})"}, 4, {1, 0}),
        ordered("NewestFirst", by_member("publishTimestamp", {"10", "20", "10", "", "\"30\""}), 3,
                {1, 0, 2, 3, 4}),
        ordered("PublishedTruncatesTowardZero",
                by_member("publishTimestamp", {"1.9", "1", "1.5", "2", "-1.9", "-1", "0"}), 3,
                {3, 0, 1, 2, 6, 4, 5}),
        ordered("PublishedOutOfRangeIsSmallest",
                by_member("publishTimestamp", {"1e300", "9223372036854775807", "-5",
                                               "9223372036854774784", "18446744073709551615",
                                               "-9223372036854775808", "-10000000000000000000.0"}),
                3, {3, 2, 0, 1, 4, 5, 6}),
        ordered("ShortestFirst", by_member("duration", {"300", "120", "", "\"300\"", "120"}), 4,
                {2, 3, 1, 4, 0}),
        ordered("DurationSignedZerosTie",
                by_member("duration", {"0.5", "-0.0", "0", "-1", "1e308", "0.25"}), 4,
                {3, 1, 2, 5, 0, 4}),
        FilterCase{"DownloadedFirst",
                   {"{}", U1, U2, LONG1},
                   nullptr,
                   0,
                   R"(["u1","https://cdn.example/t/1.mp3"])",
                   5,
                   {1, 3, 0, 2}},
        ordered("DownloadedFirstWithoutList", {U1, U2}, 5, {0, 1}),
        ordered("NegativeModeKeepsInput", titled({"b", "a"}), -1, {0, 1}),
        ordered("ModeSixKeepsInput", titled({"b", "a"}), 6, {0, 1}),
        ordered("MinModeKeepsInput", titled({"b", "a"}), INT_MIN, {0, 1}),
        ordered("IndexCountsDroppedElements", {"1", R"({"title":"b"})", R"({"title":"B"})"}, 1,
                {1, 2})),
    [](const auto &info) { return std::string(info.param.name); });

struct FailCase {
    const char *name;
    const char *tracks;
    const char *error;
};

void PrintTo(const FailCase &c, std::ostream *os) {
    *os << c.name;
}

class TrackFilterFails : public ::testing::TestWithParam<FailCase> {};

TEST_P(TrackFilterFails, ReportsMessage) {
    const FailCase &c = GetParam();
    ASSERT_FALSE(filter("[]").null);
    Result r = filter(c.tracks, "q", 1, "[\"u\"]", 1);
    EXPECT_TRUE(r.null);
    EXPECT_EQ(r.error, c.error);
    // and the next success clears it
    EXPECT_EQ(filter("[{}]").error, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrackFilterFails,
    ::testing::Values(FailCase{"Null", nullptr, "null tracks_json"},
                      FailCase{"Empty", "", "tracks_json must be array"},
                      FailCase{"Object", "{}", "tracks_json must be array"},
                      FailCase{"String", "\"[]\"", "tracks_json must be array"},
                      FailCase{"Truncated", "[{}", "tracks_json must be array"},
                      FailCase{"TrailingComma", "[{},]", "tracks_json must be array"},
                      FailCase{"TrailingText", "[] x", "tracks_json must be array"},
                      FailCase{"Comment", "[]//", "tracks_json must be array"},
                      FailCase{"NaN", "[NaN]", "tracks_json must be array"},
                      FailCase{"HugeNumber", "[{\"duration\":1e400}]", "tracks_json must be array"},
                      FailCase{"InvalidUtf8", "[\"\xff\"]", "tracks_json must be array"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TrackFilterOutput, WriterNormalForm) {
    Result r = filter(R"([ {"a" : 1.50, "b":1E2, "c":123456789012345678901234567890,
        "d":18446744073709551615, "e":-0, "f":"\/\u00e9\u0000\t", "g":[ ], "h":{ } } ])");
    ASSERT_FALSE(r.null) << r.error;
    EXPECT_EQ(r.text, "[{\"a\":1.5,\"b\":100.0,\"c\":1.2345678901234568e29,"
                      "\"d\":18446744073709551615,\"e\":0,\"f\":\"/é\\u0000\\t\",\"g\":[],"
                      "\"h\":{}}]");
}

std::string read_sample(const char *name) {
    std::ifstream f(std::string(NTSRCH_SAMPLES_DIR) + "/" + name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TEST(TrackFilterSamples, QueryAndDownloadedOnly) {
    const std::string tracks = read_sample("tracks.json"), dl = read_sample("downloaded.json");
    ASSERT_FALSE(tracks.empty());
    Result sky = filter(tracks.c_str(), "sky", 0, nullptr, NTSRCH_SORT_TITLE_ASC);
    ASSERT_FALSE(sky.null) << sky.error;
    EXPECT_EQ(sky.text.find("\"id\":6"), 2u);
    EXPECT_NE(sky.text.find("},{\"id\":5,"), std::string::npos);
    EXPECT_EQ(sky.text.find("\"id\":1,"), std::string::npos);
    Result dl_only = filter(tracks.c_str(), nullptr, 1, dl.c_str(), NTSRCH_SORT_NEWEST_FIRST);
    ASSERT_FALSE(dl_only.null) << dl_only.error;
    EXPECT_EQ(dl_only.text.rfind("[{\"id\":6,", 0), 0u);
    EXPECT_NE(dl_only.text.find("},{\"id\":2,"), std::string::npos);
    EXPECT_EQ(std::count(dl_only.text.begin(), dl_only.text.end(), '{'), 2);
}

} // namespace
