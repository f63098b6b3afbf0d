// SPDX-License-Identifier: MIT
// Results are written straight from the parsed input; they must match, byte for byte, the
// kept values deep-copied into a mutable document and written as one, whatever the values
// hold and however large they grow. And the filter text search must agree with a naive
// one on texts full of partial matches.
#include "ntsrch.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::string take(char *s) {
    std::string r = s != nullptr ? s : "(null)";
    ntsrch_free(s);
    return r;
}

// The copy pipeline: the chosen values deep-copied, in the given order, into one array.
std::string copy_and_write(const std::vector<yyjson_val *> &values) {
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *arr = yyjson_mut_arr(doc);
    yyjson_mut_doc_set_root(doc, arr);
    for (yyjson_val *v : values)
        yyjson_mut_arr_append(arr, yyjson_val_mut_copy(doc, v));
    char *s = yyjson_mut_write(doc, 0, nullptr);
    std::string r = s;
    free(s);
    yyjson_mut_doc_free(doc);
    return r;
}

const std::string control_chars = [] {
    std::string s;
    for (int i = 0; i < 3000; ++i)
        s += "\\u0001\\\"";
    return s;
}();

// Values whose written form differs from their input form, values that outgrow the
// writer's first guess of their size, and containers of every shape.
const std::vector<std::string> odd_values = {
    R"({"a" : 1.50, "b":1E2, "c":123456789012345678901234567890, "d":-0, "e":-0.0})",
    R"({"f":18446744073709551615,"g":-9223372036854775808,"h":5e-324,"i":1.7976931348623157e308})",
    R"({"s":"\/\u00e9\u0000\t\ud83c\udfb5 €","t":"","u":"\u001f\u007f"})",
    R"({"deep":[[[[{"x":[{},[],[{}],{"y":null}]}]]]],"e":{},"z":[]})",
    "{\"long\":\"" + control_chars + "\"}",
    "{\"many\":[" +
        [] {
            std::string s;
            for (int i = 0; i < 2000; ++i) {
                s += i ? ",\"" : "\"";
                for (int k = 0; k < i % 7; ++k)
                    s += "\\u0001";
                s += "\"";
            }
            return s;
        }() +
        "]}",
    R"({"t":true,"f":false,"n":null,"title":"x","title":"y"})",
    "{\"values\":[" +
        [] { // more values than one batch holds
            std::string s(1, '0');
            for (int i = 1; i < 5000; ++i) {
                s += ',';
                s += std::to_string(i * 7919 % 100003);
                if (i % 3 == 0) s += ".5";
            }
            return s;
        }() +
        "]}",
};

struct Listing {
    const char *name;
    std::string json;
};

std::vector<Listing> listings() {
    std::string all = "[", mixed = "[", big = "[";
    for (size_t i = 0; i < odd_values.size(); ++i) {
        all += (i ? "," : "") + odd_values[i];
        mixed += (i ? ",1.0e1," : "\"x\",") + odd_values[i];
    }
    for (int i = 0; i < 700; ++i)
        big += (i ? "," : "") + odd_values[i % odd_values.size()];
    return {{"AllObjects", all + "]"},
            {"Interleaved", mixed + ",[{}],null]"},
            {"Large", big + "]"},
            {"Empty", "[]"},
            {"OnlyNonObjects", "[1,\"a\",[],null]"}};
}

void PrintTo(const Listing &l, std::ostream *os) {
    *os << l.name;
}

class DirectWrite : public ::testing::TestWithParam<Listing> {};

// No filter and input order: every object is kept, so the copy pipeline's expected
// result needs no model of the filter.
TEST_P(DirectWrite, FilterMatchesCopyPipeline) {
    const std::string &json = GetParam().json;
    yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
    ASSERT_NE(doc, nullptr);
    std::vector<yyjson_val *> objects;
    size_t i, max;
    yyjson_val *v;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), i, max, v) {
        if (yyjson_is_obj(v)) objects.push_back(v);
    }
    const std::string want = copy_and_write(objects);

    EXPECT_EQ(take(ntsrch_filter_and_sort_tracks_json(json.c_str(), nullptr, 0, nullptr, 0)), want);
    // Modes whose keys all tie keep input order too.
    for (int mode : {NTSRCH_SORT_SHORTEST_FIRST, NTSRCH_SORT_DOWNLOADED_FIRST, 9})
        EXPECT_EQ(take(ntsrch_filter_and_sort_tracks_json(json.c_str(), "  ", 0, nullptr, mode)),
                  want)
            << "mode " << mode;

    // Each object gets a distinct time, earliest first, so newest first reverses them.
    std::string stamped = "[";
    int stamp = 0;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), i, max, v) {
        char *text = yyjson_val_write(v, 0, nullptr);
        std::string el = text;
        free(text);
        if (yyjson_is_obj(v))
            el = "{\"publishTimestamp\":" + std::to_string(stamp++) + (el.size() > 2 ? "," : "") +
                 el.substr(1);
        stamped += (i ? "," : "") + el;
    }
    stamped += "]";
    yyjson_doc_free(doc);
    doc = yyjson_read(stamped.data(), stamped.size(), 0);
    std::vector<yyjson_val *> newest;
    yyjson_arr_foreach(yyjson_doc_get_root(doc), i, max, v) {
        if (yyjson_is_obj(v)) newest.insert(newest.begin(), v);
    }
    const std::string want_newest = copy_and_write(newest);
    yyjson_doc_free(doc);
    EXPECT_EQ(take(ntsrch_filter_and_sort_tracks_json(stamped.c_str(), nullptr, 0, nullptr,
                                                      NTSRCH_SORT_NEWEST_FIRST)),
              want_newest);
}

TEST_P(DirectWrite, NormalizeMatchesCopyPipeline) {
    const std::string &list = GetParam().json;
    for (const std::string &json :
         {R"({"tracks":)" + list + R"(,"catalogue":{"artists":)" + list + R"(,"albums":)" + list +
              "}}",
          R"({"catalogue":{"albums":)" + list + R"(},"tracks":[]})",
          R"({"catalogue":{"artists":)" + list + R"(,"albums":{}},"tracks":)" + list + "}"}) {
        yyjson_doc *doc = yyjson_read(json.data(), json.size(), 0);
        ASSERT_NE(doc, nullptr);
        yyjson_val *root = yyjson_doc_get_root(doc);
        std::vector<yyjson_val *> local, catalogue;
        auto collect = [](std::vector<yyjson_val *> &to, yyjson_val *arr) {
            size_t i, max;
            yyjson_val *v;
            yyjson_arr_foreach(arr, i, max, v) to.push_back(v);
        };
        collect(local, yyjson_obj_get(root, "tracks"));
        yyjson_val *cat = yyjson_obj_get(root, "catalogue");
        for (const char *name : {"albums", "artists"}) {
            yyjson_val *arr = yyjson_obj_get(cat, name);
            if (yyjson_is_arr(arr)) collect(catalogue, arr);
        }
        const std::string want = "{\"localCount\":" + std::to_string(local.size()) +
                                 ",\"catalogueCount\":" + std::to_string(catalogue.size()) +
                                 ",\"local\":" + copy_and_write(local) +
                                 ",\"catalogue\":" + copy_and_write(catalogue) + "}";
        yyjson_doc_free(doc);
        EXPECT_EQ(take(ntsrch_normalize_unified_results_json(json.data(), json.size())), want);
    }
}

INSTANTIATE_TEST_SUITE_P(Lists, DirectWrite, ::testing::ValuesIn(listings()),
                         [](const auto &info) { return std::string(info.param.name); });

bool naive_contains(const std::string &text, const std::string &needle) {
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (size_t at = 0; at + needle.size() <= text.size(); ++at) {
        size_t k = 0;
        while (k < needle.size() && fold(text[at + k]) == fold(needle[k]))
            ++k;
        if (k == needle.size()) return true;
    }
    return needle.empty();
}

// Few letters, so needles keep matching partly and the search must fall back within them.
TEST(FilterTextSearch, AgreesWithNaiveSearch) {
    static const char alphabet[] = {'a', 'A', 'b', 'B', 'c', '-'};
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 rng(seed);
        auto text = [&](size_t n) {
            std::string s;
            for (size_t i = 0; i < n; ++i)
                s += alphabet[rng() % (seed % 2 ? 3 : 6)];
            return s;
        };
        std::vector<std::string> titles;
        std::string json = "[";
        for (int i = 0; i < 60; ++i) {
            titles.push_back(text(rng() % 40));
            json += (i ? ",{\"title\":\"" : "{\"title\":\"") + titles.back() + "\"}";
        }
        json += "]";
        for (int q = 0; q < 20; ++q) {
            // Needles cut from the texts themselves hit long partial matches.
            const std::string &from = titles[rng() % titles.size()];
            std::string needle =
                q % 2 && !from.empty() ? from.substr(rng() % from.size()) : text(1 + rng() % 6);
            if (needle.empty() || needle.front() == '-' || needle.back() == '-') needle = "ab";
            std::string want = "[";
            for (const std::string &t : titles)
                if (naive_contains(t, needle))
                    want += (want.size() > 1 ? ",{\"title\":\"" : "{\"title\":\"") + t + "\"}";
            want += "]";
            EXPECT_EQ(take(ntsrch_filter_and_sort_tracks_json(json.c_str(), needle.c_str(), 0,
                                                              nullptr, 0)),
                      want)
                << "seed " << seed << " needle " << needle;
        }
    }
}

// Long texts of nearly one letter keep the search away from its start state, where it
// splits the rest of the text in two; needles cut around the middle cross the split.
TEST(FilterTextSearch, LongTextsAgreeWithNaiveSearch) {
    std::mt19937 rng(7);
    std::vector<std::string> titles;
    std::string json = "[";
    for (int i = 0; i < 8; ++i) {
        std::string t(2000 + rng() % 4000, 'a');
        for (char &c : t)
            if (rng() % 40 == 0) c = "AbBc"[rng() % 4];
        titles.push_back(t);
        json += (i ? ",{\"title\":\"" : "{\"title\":\"") + t + "\"}";
    }
    json += "]";
    std::vector<std::string> needles;
    for (size_t k : {1, 5, 40, 254})
        for (char last : {'b', 'c', 'd'})
            needles.push_back(std::string(k, 'a') + last);
    for (const std::string &t : titles)
        for (size_t at :
             {size_t{300}, (t.size() + 256) / 2 - 20, (t.size() + 256) / 2 - 3, t.size() - 255}) {
            needles.push_back(t.substr(at, 255));
            needles.push_back(t.substr(at, 1 + rng() % 40));
        }
    for (const std::string &needle : needles) {
        std::string want = "[";
        for (const std::string &t : titles)
            if (naive_contains(t, needle))
                want += (want.size() > 1 ? ",{\"title\":\"" : "{\"title\":\"") + t + "\"}";
        want += "]";
        EXPECT_EQ(
            take(ntsrch_filter_and_sort_tracks_json(json.c_str(), needle.c_str(), 0, nullptr, 0)),
            want)
            << "needle " << needle;
    }
}

} // namespace
