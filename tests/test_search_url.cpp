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

struct UrlCase {
    const char *name;
    const char *base;
    const char *query;
    std::string expected;
};

void PrintTo(const UrlCase &c, std::ostream *os) {
    *os << c.name;
}

class SearchUrl : public ::testing::TestWithParam<UrlCase> {};

TEST_P(SearchUrl, BuildsExpectedUrl) {
    const UrlCase &c = GetParam();
    Owned url{ntsrch_build_search_url(c.base, c.query)};
    ASSERT_NE(url.p, nullptr) << ntsrch_last_error();
    EXPECT_EQ(url.p, c.expected);
    EXPECT_STREQ(ntsrch_last_error(), "");
}

const std::string tail = "&format=json";

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchUrl,
    ::testing::Values(
        UrlCase{"NullBaseIsDefault", nullptr, "a", base_url() + "/search/api?q=a" + tail},
        UrlCase{"EmptyBaseIsDefault", "", "a", base_url() + "/search/api?q=a" + tail},
        UrlCase{"OneTrailingSlash", "http://h/", "a", "http://h/search/api?q=a" + tail},
        UrlCase{"ThreeTrailingSlashes", "http://h///", "a", "http://h/search/api?q=a" + tail},
        UrlCase{"InnerSlashesKept", "http://h/x//y", "a", "http://h/x//y/search/api?q=a" + tail},
        UrlCase{"SlashOnlyBase", "/", "a", "/search/api?q=a" + tail},
        UrlCase{"ManySlashBase", "////", "a", "/search/api?q=a" + tail},
        UrlCase{"BaseNotValidated", "not a url?x=1", "a", "not a url?x=1/search/api?q=a" + tail},
        UrlCase{"LeadingDroppedTrailingEncoded", "b", "  a b  ",
                "b/search/api?q=a%20b%20%20" + tail},
        UrlCase{"AllWhitespaceKindsLeading", "b", " \t\n\v\f\rx", "b/search/api?q=x" + tail},
        UrlCase{"TrailingControlWhitespace", "b", "x\t\n", "b/search/api?q=x%09%0A" + tail},
        UrlCase{"Reserved", "b", "x/y & z~", "b/search/api?q=x%2Fy%20%26%20z~" + tail},
        UrlCase{"Unreserved", "b", "AZaz09-._~", "b/search/api?q=AZaz09-._~" + tail},
        UrlCase{"PlusAndPercent", "b", "a+b%c", "b/search/api?q=a%2Bb%25c" + tail},
        UrlCase{"Utf8ByteByByte", "b", "\xC3\xA9", "b/search/api?q=%C3%A9" + tail},
        UrlCase{"DelAndHighBytes", "b", "\x7F\x80\xFF", "b/search/api?q=%7F%80%FF" + tail},
        UrlCase{"NonBreakingSpaceIsNotWhitespace", "b", "\xA0x", "b/search/api?q=%A0x" + tail}),
    [](const auto &info) { return std::string(info.param.name); });

struct ErrorCase {
    const char *name;
    const char *query;
    const char *message;
};

void PrintTo(const ErrorCase &c, std::ostream *os) {
    *os << c.name;
}

class SearchUrlErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SearchUrlErrors, FailsWithMessage) {
    const ErrorCase &c = GetParam();
    EXPECT_EQ(ntsrch_build_search_url("http://h", c.query), nullptr);
    EXPECT_STREQ(ntsrch_last_error(), c.message);
    // A later success empties the text again.
    Owned ok{ntsrch_build_search_url(nullptr, "x")};
    ASSERT_NE(ok.p, nullptr);
    EXPECT_STREQ(ntsrch_last_error(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, SearchUrlErrors,
                         ::testing::Values(ErrorCase{"Null", nullptr, "null query"},
                                           ErrorCase{"Empty", "", "empty query"},
                                           ErrorCase{"Whitespace", "\t\n ", "empty query"},
                                           ErrorCase{"AllSix", " \t\n\v\f\r", "empty query"}),
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
