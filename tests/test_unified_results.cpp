// SPDX-License-Identifier: MIT
#include "ntsrch.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

namespace {

struct Owned {
    char *p;
    ~Owned() { ntsrch_free(p); }
};

std::string shape(const std::string &local_count, const std::string &catalogue_count,
                  const std::string &local, const std::string &catalogue) {
    return R"({"localCount":)" + local_count + R"(,"catalogueCount":)" + catalogue_count +
           R"(,"local":[)" + local + R"(],"catalogue":[)" + catalogue + "]}";
}

const std::string empty_result = shape("0", "0", "", "");

struct Case {
    const char *name;
    std::string input;
    std::string expected;
};

void PrintTo(const Case &c, std::ostream *os) {
    *os << c.name;
}

class Normalize : public ::testing::TestWithParam<Case> {};

// Read through len, from an exactly sized heap copy with no terminator behind it.
TEST_P(Normalize, WritesExpectedShape) {
    const Case &c = GetParam();
    ASSERT_EQ(ntsrch_normalize_unified_results_json(nullptr, 0), nullptr); // a stale message
    char *text = static_cast<char *>(std::malloc(c.input.size()));
    ASSERT_NE(text, nullptr);
    std::memcpy(text, c.input.data(), c.input.size());
    Owned out{ntsrch_normalize_unified_results_json(text, c.input.size())};
    EXPECT_EQ(std::memcmp(text, c.input.data(), c.input.size()), 0) << "input modified";
    std::free(text);
    ASSERT_NE(out.p, nullptr) << ntsrch_last_error();
    EXPECT_EQ(out.p, c.expected);
    EXPECT_STREQ(ntsrch_last_error(), "");
}

// The same text measured up to its terminator gives the same result.
TEST_P(Normalize, LenZeroMeasuresTheText) {
    const Case &c = GetParam();
    if (c.input.find('\0') != std::string::npos) GTEST_SKIP() << "holds a NUL byte";
    Owned out{ntsrch_normalize_unified_results_json(c.input.c_str(), 0)};
    ASSERT_NE(out.p, nullptr) << ntsrch_last_error();
    EXPECT_EQ(out.p, c.expected);
}

const std::string album = R"({"id":"al-3","title":"Sky Atlas","year":2021})";
const std::string artist = R"({"id":"ar-9","name":"Dara Sky"})";

INSTANTIATE_TEST_SUITE_P(
    Members, Normalize,
    ::testing::Values(
        Case{"EmptyObject", "{}", empty_result}, Case{"Whitespace", " \t\r\n{ }\n", empty_result},
        Case{"AllThree",
             R"({"tracks":[{"title":"A"},{"title":"B"}],"catalogue":{"albums":[)" + album +
                 R"(],"artists":[)" + artist + "]}}",
             shape("2", "2", R"({"title":"A"},{"title":"B"})", album + "," + artist)},
        Case{"ArtistsWrittenFirst",
             R"({"catalogue":{"artists":[)" + artist + R"(],"albums":[)" + album + "]}}",
             shape("0", "2", "", album + "," + artist)},
        Case{"ElementsNeverTypeChecked", R"({"tracks":[1,"x",null,[],{},true]})",
             shape("6", "0", R"(1,"x",null,[],{},true)", "")},
        Case{"OtherMembersIgnoredAtEveryLevel",
             R"({"query":"sky","localCount":99,"local":[1],"catalogue":{"playlists":[1],)"
             R"("albums":[2],"tracks":[3]},"albums":[4],"artists":[5]})",
             shape("0", "1", "", "2")},
        Case{"NestedElementsCopiedWhole", R"({"tracks":[{"a":{"b":[1,{"c":[]}]},"a":2}]})",
             shape("1", "0", R"({"a":{"b":[1,{"c":[]}]},"a":2})", "")},
        Case{"WriterNormalForm",
             R"({"tracks":[1E2, -0, 1.50, "\u00e9\/\ud83d\ude00", 18446744073709551616]})",
             shape("5", "0", "100.0,0,1.5,\"\xC3\xA9/\xF0\x9F\x98\x80\",18446744073709552000.0",
                   "")},
        Case{"RawUtf8KeptAsIs", "{\"tracks\":[\"caf\xC3\xA9\"]}",
             shape("1", "0", "\"caf\xC3\xA9\"", "")},
        Case{"EscapedKeyIsTheSameKey", R"({"tr\u0061cks":[1]})", shape("1", "0", "1", "")},
        Case{"KeysAreCaseSensitive", R"({"Tracks":[1],"CATALOGUE":{"albums":[2]}})", empty_result},
        Case{"KeyLengthMatters", R"({"track":[1],"trackss":[2],"tracks\u0000":[3]})",
             empty_result}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WrongTypes, Normalize,
    ::testing::Values(Case{"TracksObject", R"({"tracks":{"0":1}})", empty_result},
                      Case{"TracksString", R"({"tracks":"[1]"})", empty_result},
                      Case{"TracksNumber", R"({"tracks":1})", empty_result},
                      Case{"TracksNull", R"({"tracks":null})", empty_result},
                      Case{"TracksWrongCatalogueKept",
                           R"({"tracks":true,"catalogue":{"albums":[1]}})",
                           shape("0", "1", "", "1")},
                      Case{"CatalogueArray", R"({"tracks":[1],"catalogue":[{"albums":[2]}]})",
                           shape("1", "0", "1", "")},
                      Case{"CatalogueString", R"({"catalogue":"x"})", empty_result},
                      Case{"CatalogueNull", R"({"catalogue":null})", empty_result},
                      Case{"AlbumsString", R"({"catalogue":{"albums":"x","artists":[1,2]}})",
                           shape("0", "2", "", "1,2")},
                      Case{"AlbumsObject", R"({"catalogue":{"albums":{"a":1},"artists":[1]}})",
                           shape("0", "1", "", "1")},
                      Case{"ArtistsNumber", R"({"catalogue":{"albums":[1],"artists":7}})",
                           shape("0", "1", "", "1")},
                      Case{"ArtistsNull", R"({"catalogue":{"artists":null,"albums":[1]}})",
                           shape("0", "1", "", "1")}),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    DuplicateKeys, Normalize,
    ::testing::Values(
        Case{"SecondTracksNeverRead", R"({"tracks":1,"tracks":[1,2]})", empty_result},
        Case{"FirstTracksWins", R"({"tracks":[1],"tracks":[2,3]})", shape("1", "0", "1", "")},
        Case{"SecondCatalogueNeverRead", R"({"catalogue":[],"catalogue":{"albums":[1]}})",
             empty_result},
        Case{"FirstCatalogueWins",
             R"({"catalogue":{"artists":[1]},"catalogue":{"albums":[2],"artists":[3]}})",
             shape("0", "1", "", "1")},
        Case{"FirstAlbumsWins", R"({"catalogue":{"albums":"x","albums":[1],"artists":[2]}})",
             shape("0", "1", "", "2")},
        Case{"FirstArtistsWins", R"({"catalogue":{"artists":[1],"artists":[2]}})",
             shape("0", "1", "", "1")}),
    [](const auto &info) { return std::string(info.param.name); });

std::string repeated(const std::string &item, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += (i ? "," : "") + item;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Normalize,
    ::testing::Values(
        Case{"ManyElements",
             R"({"tracks":[)" + repeated(R"({"t":"x"})", 5000) + R"(],"catalogue":{"albums":[)" +
                 repeated("1", 300) + R"(],"artists":[)" + repeated("[]", 7) + "]}}",
             shape("5000", "307", repeated(R"({"t":"x"})", 5000),
                   repeated("1", 300) + "," + repeated("[]", 7))},
        // Deep nesting must not exhaust the stack anywhere between reading and writing.
        Case{"DeeplyNested",
             R"({"tracks":[)" + std::string(200000, '[') + std::string(200000, ']') + "]}",
             shape("1", "0", std::string(200000, '[') + std::string(200000, ']'), "")}),
    [](const auto &info) { return std::string(info.param.name); });

struct BadCase {
    const char *name;
    std::string text; // the bytes handed over
    size_t len;       // as passed
};

void PrintTo(const BadCase &c, std::ostream *os) {
    *os << c.name;
}

class NormalizeRejects : public ::testing::TestWithParam<BadCase> {};

TEST_P(NormalizeRejects, InvalidSearchJson) {
    const BadCase &c = GetParam();
    Owned ok{ntsrch_normalize_unified_results_json("{}", 0)}; // clears the text first
    ASSERT_NE(ok.p, nullptr);
    EXPECT_EQ(ntsrch_normalize_unified_results_json(c.text.c_str(), c.len), nullptr);
    EXPECT_STREQ(ntsrch_last_error(), "invalid search json");
}

BadCase whole(const char *name, std::string text) {
    const size_t len = text.size();
    return BadCase{name, std::move(text), len};
}

INSTANTIATE_TEST_SUITE_P(
    ParseFailures, NormalizeRejects,
    ::testing::Values(
        BadCase{"EmptyTextLenZero", "", 0}, whole("OnlyWhitespace", " \n\t"),
        whole("TrailingContent", "{} x"), whole("TwoRoots", "{}{}"),
        whole("LineComment", "{} // c"), whole("BlockComment", R"({/*c*/"tracks":[]})"),
        whole("TrailingCommaArray", R"({"tracks":[1,]})"),
        whole("TrailingCommaObject", R"({"tracks":[],})"), whole("ByteOrderMark", "\xEF\xBB\xBF{}"),
        whole("InvalidUtf8Byte", "{\"a\":\"\xFF\"}"), whole("OverlongUtf8", "{\"a\":\"\xC0\xAF\"}"),
        whole("TruncatedUtf8", "{\"a\":\"\xE2\x82\"}"), whole("InvalidUtf8InKey", "{\"\xFE\":1}"),
        whole("LoneSurrogate", R"({"a":"\ud800"})"), whole("NaN", R"({"a":NaN})"),
        whole("Infinity", R"({"a":-Infinity})"), whole("TooLargeForDouble", R"({"a":1e400})"),
        whole("TooSmallForDouble", R"({"a":-1e400})"), whole("LeadingZero", R"({"a":01})"),
        whole("ControlCharInString", "{\"a\":\"\x01\"}"), whole("SingleQuotes", "{'a':1}"),
        whole("Unterminated", R"({"tracks":[)"), whole("BareKey", "{tracks:[]}"),
        whole("RootArray", "[]"), whole("RootString", "\"{}\""), whole("RootNumber", "1"),
        whole("RootNull", "null"), whole("RootTrue", "true")),
    [](const auto &info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Length, NormalizeRejects,
    ::testing::Values(BadCase{"LenCutsInsideRoot", R"({"tracks":[1]})", 5},
                      BadCase{"LenStopsBeforeClosingBrace", R"({"tracks":[1]})", 13},
                      BadCase{"LenCoversGarbage", "{}xyz", 5},
                      BadCase{"LenCoversTerminator", std::string("{}\0", 3), 3},
                      BadCase{"LenCoversSpaceThenGarbage", "{} ;", 4}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(NormalizeErrors, NullJson) {
    Owned ok{ntsrch_normalize_unified_results_json("{}", 0)};
    ASSERT_NE(ok.p, nullptr);
    for (size_t len : {size_t{0}, size_t{2}}) {
        EXPECT_EQ(ntsrch_normalize_unified_results_json(nullptr, len), nullptr);
        EXPECT_STREQ(ntsrch_last_error(), "null json");
    }
}

TEST(NormalizeLength, LenZeroStopsAtTheTerminator) {
    const char text[] = "{\"tracks\":[1]}\0xyz";
    Owned out{ntsrch_normalize_unified_results_json(text, 0)};
    ASSERT_NE(out.p, nullptr) << ntsrch_last_error();
    EXPECT_EQ(out.p, shape("1", "0", "1", ""));
}

// The text ends on the last byte of a read-only page and the next page is inaccessible:
// reading one byte too far, or writing to the input at all, kills the test.
TEST(NormalizeLength, ReadsExactlyLenBytesWithoutTerminator) {
#ifdef _WIN32
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    char *base = static_cast<char *>(
        VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
#else
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    char *base = static_cast<char *>(map);
#endif
    const std::string text = R"({"tracks":[{"title":"Edge"}],"catalogue":{"albums":[7]}})";
    char *start = base + page - text.size();
    std::memcpy(start, text.data(), text.size());
#ifdef _WIN32
    DWORD was;
    ASSERT_TRUE(VirtualProtect(base, page, PAGE_READONLY, &was));
    ASSERT_TRUE(VirtualProtect(base + page, page, PAGE_NOACCESS, &was));
#else
    ASSERT_EQ(mprotect(base, page, PROT_READ), 0);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
#endif

    Owned out{ntsrch_normalize_unified_results_json(start, text.size())};
    ASSERT_NE(out.p, nullptr) << ntsrch_last_error();
    EXPECT_EQ(out.p, shape("1", "1", R"({"title":"Edge"})", "7"));
    // A prefix is read as a prefix, not as the text around it.
    EXPECT_EQ(ntsrch_normalize_unified_results_json(start, text.size() - 1), nullptr);
    EXPECT_STREQ(ntsrch_last_error(), "invalid search json");
#ifdef _WIN32
    VirtualFree(base, 0, MEM_RELEASE);
#else
    munmap(map, 2 * page);
#endif
}

} // namespace
