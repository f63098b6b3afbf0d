// SPDX-License-Identifier: MIT
#include "ntsrch.h"

#include <gtest/gtest.h>

#include <clocale>
#include <ostream>
#include <string>

namespace {

struct Owned {
    char *p;
    ~Owned() { ntsrch_free(p); }
};

std::string base_url() {
    return NTSRCH_DEFAULT_BASE_URL;
}

const std::string tail = "&format=json";

// The URL for an already trimmed base prefix and an encoded query.
std::string url(const std::string &prefix, const char *encoded) {
    return prefix + "/search/api?q=" + encoded + tail;
}

// A refused call (error set) leaves expected empty.
struct UrlCase {
    const char *name;
    const char *base;
    const char *query;
    std::string expected;
    const char *error = "";
};

void PrintTo(const UrlCase &c, std::ostream *os) {
    *os << c.name;
}

class SearchUrl : public ::testing::TestWithParam<UrlCase> {};

TEST_P(SearchUrl, BuildsExpectedUrlOrFailsWithMessage) {
    const UrlCase &c = GetParam();
    Owned got{ntsrch_build_search_url(c.base, c.query)};
    if (*c.error != '\0') {
        EXPECT_EQ(got.p, nullptr);
        EXPECT_STREQ(ntsrch_last_error(), c.error);
        // A later success empties the text again.
        Owned ok{ntsrch_build_search_url(nullptr, "x")};
        ASSERT_NE(ok.p, nullptr);
        EXPECT_STREQ(ntsrch_last_error(), "");
        return;
    }
    ASSERT_NE(got.p, nullptr) << ntsrch_last_error();
    EXPECT_EQ(got.p, c.expected);
    EXPECT_STREQ(ntsrch_last_error(), "");
}

const UrlCase url_cases[] = {
    {"NullBaseIsDefault", nullptr, "a", url(base_url(), "a")},
    {"EmptyBaseIsDefault", "", "a", url(base_url(), "a")},
    {"OneTrailingSlash", "http://h/", "a", url("http://h", "a")},
    {"ThreeTrailingSlashes", "http://h///", "a", url("http://h", "a")},
    {"InnerSlashesKept", "http://h/x//y", "a", url("http://h/x//y", "a")},
    {"SlashOnlyBase", "/", "a", url("", "a")},
    {"ManySlashBase", "////", "a", url("", "a")},
    {"BaseNotValidated", "not a url?x=1", "a", url("not a url?x=1", "a")},
    {"LeadingDroppedTrailingEncoded", "b", "  a b  ", url("b", "a%20b%20%20")},
    {"AllWhitespaceKindsLeading", "b", " \t\n\v\f\rx", url("b", "x")},
    {"TrailingControlWhitespace", "b", "x\t\n", url("b", "x%09%0A")},
    {"Reserved", "b", "x/y & z~", url("b", "x%2Fy%20%26%20z~")},
    {"Unreserved", "b", "AZaz09-._~", url("b", "AZaz09-._~")},
    {"PlusAndPercent", "b", "a+b%c", url("b", "a%2Bb%25c")},
    {"Utf8ByteByByte", "b", "\xC3\xA9", url("b", "%C3%A9")},
    {"DelAndHighBytes", "b", "\x7F\x80\xFF", url("b", "%7F%80%FF")},
    {"NonBreakingSpaceIsNotWhitespace", "b", "\xA0x", url("b", "%A0x")},
    {"Null", "http://h", nullptr, {}, "null query"},
    {"Empty", "http://h", "", {}, "empty query"},
    {"Whitespace", "http://h", "\t\n ", {}, "empty query"},
    {"AllSix", "http://h", " \t\n\v\f\r", {}, "empty query"},
};

INSTANTIATE_TEST_SUITE_P(Cases, SearchUrl, ::testing::ValuesIn(url_cases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SearchUrlLocale, HostLocaleChangesNothing) {
    // A Latin-1 or UTF-8 locale must not make high bytes "alphanumeric" or "space".
    const char *names[] = {"C.UTF-8", "en_US.UTF-8", "de_DE.ISO-8859-1", "en_US.ISO-8859-1"};
    std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char *name : names) {
        if (std::setlocale(LC_ALL, name) == nullptr) continue;
        Owned url{ntsrch_build_search_url("b", "\xA0\xE9\xC9z")};
        ASSERT_NE(url.p, nullptr);
        EXPECT_STREQ(url.p, "b/search/api?q=%A0%E9%C9z&format=json") << name;
    }
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(SearchUrlSize, LongQueryAndBaseAreCopiedWhole) {
    std::string base(100000, 'b');
    std::string query(100000, ' ');
    query[0] = 'q';
    Owned url{ntsrch_build_search_url(base.c_str(), query.c_str())};
    ASSERT_NE(url.p, nullptr);
    std::string expected = base + "/search/api?q=q";
    for (size_t i = 1; i < query.size(); ++i)
        expected += "%20";
    expected += tail;
    EXPECT_EQ(url.p, expected);
}

} // namespace
