// SPDX-License-Identifier: MIT
// Fails every allocation of a producing call in turn (and, in a second pass, every
// allocation from the k-th on) until a call completes without meeting a failure. Each
// time the call must give its full normal result, or null with the documented last-error
// text, and leave no block behind.
#include "../gen_data.h"
#include "alloc_shim.h"
#include "ntsrch.h"

#include <gtest/gtest.h>
#include <yyjson.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

struct Case {
    std::string name;
    const char *function;
    std::function<char *()> call;
    // The call's first read of its JSON input, done here the same way; empty when the
    // function reads none. Failures inside it give `input_msg`, every other one "".
    std::function<yyjson_doc *()> reader;
    const char *input_msg;
};

std::vector<Case> &cases() {
    static std::vector<Case> all;
    return all;
}

// Keeps the strings a case reads alive for the whole run.
const std::string &keep(std::string s) {
    static std::vector<std::unique_ptr<std::string>> store;
    store.push_back(std::make_unique<std::string>(std::move(s)));
    return *store.back();
}

yyjson_doc *read_text(const std::string &s, size_t len) {
    return yyjson_read_opts(const_cast<char *>(s.data()), len, 0, nullptr, nullptr);
}

void add_url(const std::string &name, const char *base, const std::string &query) {
    const std::string &q = keep(query);
    cases().push_back({name,
                       "ntsrch_build_search_url",
                       [base, &q] { return ntsrch_build_search_url(base, q.c_str()); },
                       {},
                       ""});
}

void add_filter(const std::string &name, const std::string &tracks, const char *query,
                int downloaded_only, const char *downloaded, int sort_mode) {
    const std::string &t = keep(tracks);
    cases().push_back({name, "ntsrch_filter_and_sort_tracks_json",
                       [&t, query, downloaded_only, downloaded, sort_mode] {
                           return ntsrch_filter_and_sort_tracks_json(
                               t.c_str(), query, downloaded_only, downloaded, sort_mode);
                       },
                       [&t] { return read_text(t, t.size()); }, "tracks_json must be array"});
}

void add_normalize(const std::string &name, const std::string &json, size_t len) {
    const std::string &j = keep(json);
    cases().push_back({name, "ntsrch_normalize_unified_results_json",
                       [&j, len] { return ntsrch_normalize_unified_results_json(j.c_str(), len); },
                       [&j, len] { return read_text(j, len ? len : j.size()); },
                       "invalid search json"});
}

void build_cases() {
    add_url("url_plain", nullptr, "night skies");
    add_url("url_base_slashes", "https://music.example///", "  Été indien / x&y ");
    add_url("url_large", "https://h", std::string(100000, '\xC3') + "tail ~._-");

    static const std::string small = gen::tracks(12);
    static const std::string large = gen::tracks(3000);
    static const std::string dl_small = gen::downloaded(12, 3);
    static const std::string dl_large = gen::downloaded(3000, 10);
    for (int mode = -1; mode <= 6; ++mode) {
        const std::string m = std::to_string(mode < 0 ? 99 : mode);
        add_filter("filter_small_sort" + m, small, nullptr, 0, dl_small.c_str(), mode);
        add_filter("filter_large_sort" + m, large, nullptr, 0, dl_large.c_str(), mode);
    }
    add_filter("filter_large_query", large, "  sky ", 0, nullptr, NTSRCH_SORT_ARTIST_ASC);
    add_filter("filter_large_downloaded_only", large, nullptr, 1, dl_large.c_str(),
               NTSRCH_SORT_NEWEST_FIRST);
    add_filter("filter_small_downloaded_query", small, "BAND", 1, dl_small.c_str(),
               NTSRCH_SORT_TITLE_ASC);
    add_filter("filter_unusable_downloaded", small, nullptr, 1, "[\"x\",", 0);
    // Lists of plain strings are read from their text; the second turns to the reader late.
    static const std::string dl_plain = "[" + dl_large.substr(4);
    add_filter("filter_plain_downloaded", large, nullptr, 1, dl_plain.c_str(), 0);
    static const std::string dl_plain_then_number = dl_plain.substr(0, dl_plain.size() - 1) + ",7]";
    add_filter("filter_plain_then_number", small, nullptr, 0, dl_plain_then_number.c_str(),
               NTSRCH_SORT_DOWNLOADED_FIRST);
    static const std::string dl_inner = dl_small.substr(1, dl_small.size() - 2);
    static const std::string dl_odd =
        "[" + dl_inner + "," + dl_inner + ",\"\",[\"x\"],{\"u\":\"v\"}]"; // duplicates
    add_filter("filter_downloaded_duplicates_nested", small, nullptr, 1, dl_odd.c_str(),
               NTSRCH_SORT_TITLE_ASC);
    add_filter("filter_downloaded_no_strings", small, nullptr, 0, "[1,[\"x\"],{}]",
               NTSRCH_SORT_DOWNLOADED_FIRST);
    add_filter("filter_empty_array", "[]", "x", 0, nullptr, 1);
    add_filter("filter_root_object", "{\"title\":\"a\"}", nullptr, 0, nullptr, 0);
    add_filter("filter_invalid", "[{\"title\":\"a\"},", nullptr, 0, nullptr, 0);

    const std::string uni = gen::unified(6);
    add_normalize("normalize_small", uni, 0);
    add_normalize("normalize_large", gen::unified(3000), 0);
    add_normalize("normalize_len_garbage", uni + "\0garbage" + std::string(8, 'x'), uni.size() + 3);
    add_normalize("normalize_len_exact", uni + "trailing", uni.size());
    add_normalize("normalize_empty_object", "{}", 0);
    add_normalize("normalize_root_array", "[{}]", 0);
}

struct Figures {
    unsigned long single = 0, from_k = 0;
};
std::map<std::string, Figures> &figures() {
    static std::map<std::string, Figures> f;
    return f;
}

class AllocFailure : public ::testing::TestWithParam<size_t> {};

TEST_P(AllocFailure, EveryFailurePointIsClean) {
    const Case &c = cases()[GetParam()];

    unsigned long reader_events = 0;
    if (c.reader) {
        shim::arm(0, false);
        yyjson_doc *doc = c.reader();
        shim::disarm();
        reader_events = shim::events();
        yyjson_doc_free(doc);
    }

    ntsrch_build_search_url(nullptr, nullptr); // a stale message the call must replace
    shim::arm(0, false);
    char *normal = c.call();
    shim::disarm();
    const unsigned long normal_events = shim::events();
    const std::string normal_err = ntsrch_last_error();
    const bool normal_null = normal == nullptr;
    const std::string expected = normal_null ? "" : normal;
    ntsrch_free(normal);
    ASSERT_GT(normal_events, 0u) << "the shim saw no allocation: is it bypassed?";

    unsigned long points[2] = {0, 0};
    for (int pass = 0; pass < 2; ++pass) {
        const bool rest = pass == 1;
        for (unsigned long k = 1;; ++k) {
            ntsrch_build_search_url(nullptr, nullptr);
            const long before = shim::live();
            shim::arm(k, rest);
            char *r = c.call();
            shim::disarm();
            const long after = shim::live();
            const unsigned long injected = shim::injected();
            const std::string err = ntsrch_last_error();
            const bool is_null = r == nullptr;
            const bool is_full = !is_null && !normal_null && expected == r;
            ntsrch_free(r);
            const long leaked = after - before - (is_null ? 0 : 1);

            if (injected == 0) {
                EXPECT_EQ(is_null, normal_null) << c.name << " k=" << k;
                EXPECT_TRUE(normal_null || is_full) << c.name << " k=" << k;
                EXPECT_EQ(err, normal_err) << c.name << " k=" << k;
                EXPECT_EQ(leaked, 0) << c.name << " k=" << k;
                break;
            }
            ++points[pass];
            const char *want_err = k <= reader_events ? c.input_msg : "";
            EXPECT_TRUE(is_full || (is_null && err == want_err))
                << c.name << (rest ? " from k=" : " k=") << k << ": "
                << (is_null ? "null" : "a result other than the normal one") << ", last error \""
                << err << "\", expected \"" << want_err << "\"";
            EXPECT_EQ(leaked, 0) << c.name << (rest ? " from k=" : " k=") << k;
            ASSERT_LE(k, 100000u) << "no end in sight";
        }
    }
    // Every allocation of the normal run is one failure point of each pass.
    EXPECT_EQ(points[0], normal_events) << c.name;
    EXPECT_EQ(points[1], normal_events) << c.name;
    std::printf("  %-34s %5lu single, %5lu from-k-on (reader: %lu)\n", c.name.c_str(), points[0],
                points[1], reader_events);
    figures()[c.function].single += points[0];
    figures()[c.function].from_k += points[1];
}

unsigned long allocations(const std::function<void()> &f) {
    shim::arm(0, false);
    f();
    shim::disarm();
    return shim::events();
}

// The downloaded set is one block, whatever the list holds. A list of plain strings is
// read from its text, with no parse; any other list costs its parse as well, and a text
// that leaves the plain form after its first member a table dropped before the parse.
TEST(AllocFailureSet, OneBlockOfItsOwn) {
    static const std::string tracks = gen::tracks(200);
    struct row {
        std::string list;
        bool parsed;
        unsigned long blocks;
    };
    const std::string plain = "[" + gen::downloaded(3000, 1).substr(4);
    const std::vector<row> rows = {
        {"[\"none\"]", false, 1},
        {plain, false, 1},
        {gen::downloaded(3000, 1), true, 1}, // a number first
        {plain.substr(0, plain.size() - 1) + ",7]", true, 2},
        {"[\"a\",\"a\",\"a\\u0000b\",7,[\"b\"]]", true, 1}, // an escape
        {"\"a\"", true, 0},                                 // no array, no set
    };
    auto call = [](const std::string &list) {
        return allocations([&list] {
            ntsrch_free(ntsrch_filter_and_sort_tracks_json(tracks.c_str(), nullptr, 0, list.c_str(),
                                                           NTSRCH_SORT_DOWNLOADED_FIRST));
        });
    };
    auto read = [](const std::string &list) {
        return allocations([&list] { yyjson_doc_free(read_text(list, list.size())); });
    };
    const unsigned long base = call("[]");
    for (const row &r : rows) {
        // The big lists rename every URL so that none is a track's.
        std::string renamed = r.list;
        for (size_t at = 0; (at = renamed.find("https://", at)) != std::string::npos; ++at)
            renamed[at] = 'x';
        EXPECT_EQ(call(renamed), base + (r.parsed ? read(renamed) : 0) + r.blocks)
            << renamed.substr(0, 40);
    }
}

// The self-test drives the producing functions: under any failure it must not crash or
// leak, it passes once memory suffices, and it names the scenario that met the failure:
// the URL (one allocation) first, then only the ordering.
TEST(AllocFailureSelftest, NeverLeaksAndNamesTheScenario) {
    unsigned long points = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (unsigned long k = 1;; ++k) {
            const long before = shim::live();
            shim::arm(k, pass == 1);
            const int rc = ntsrch_selftest();
            shim::disarm();
            const long after = shim::live();
            const unsigned long injected = shim::injected();
            EXPECT_EQ(after, before) << "k=" << k;
            if (injected == 0) {
                EXPECT_EQ(rc, 0);
                break;
            }
            EXPECT_EQ(rc, k == 1 ? 1 : 2) << (pass == 1 ? "from k=" : "k=") << k;
            ++points;
        }
    }
    EXPECT_GT(points, 2u);
    std::printf("  ntsrch_selftest: %lu failure points over both passes\n", points);
}

class Summary : public ::testing::Environment {
  public:
    void TearDown() override {
        for (const auto &[fn, f] : figures())
            std::printf("alloc-failure points %-38s single %6lu  from-k-on %6lu\n", fn.c_str(),
                        f.single, f.from_k);
    }
};

std::string case_name(const ::testing::TestParamInfo<size_t> &info) {
    return cases()[info.param].name;
}

const bool registered = [] {
    build_cases();
    ::testing::AddGlobalTestEnvironment(new Summary);
    return true;
}();

INSTANTIATE_TEST_SUITE_P(Producing, AllocFailure,
                         ::testing::Range<size_t>(0, registered ? cases().size() : 0), case_name);

} // namespace
