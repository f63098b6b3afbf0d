// SPDX-License-Identifier: MIT
// Inputs that sanitizers or fuzzing once caught the module on; they matter most in the
// ASan+UBSan tree, where undefined behaviour aborts the test.
#include "gen_data.h"
#include "ntsrch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Regression {
    const char *name;
    const char *tracks;
    int sort_mode;
    const char *expected;
};

// Empty and missing titles: the folded-prefix packing of the text orders once shifted a
// 64-bit value by 64.
const Regression kFilterRegressions[] = {
    {"empty_title_title_order", R"([{"title":"b"},{"title":""},{},{"title":"A"}])",
     NTSRCH_SORT_TITLE_ASC, R"([{"title":""},{},{"title":"A"},{"title":"b"}])"},
    {"empty_title_artist_order", R"([{"artist":"x","title":"b"},{"artist":"x","title":""},{}])",
     NTSRCH_SORT_ARTIST_ASC, R"([{"artist":"x","title":""},{"artist":"x","title":"b"},{}])"},
    {"escaped_nul_title", R"([{"title":"a\u0000z"},{"title":"A"}])", NTSRCH_SORT_TITLE_ASC,
     R"([{"title":"a\u0000z"},{"title":"A"}])"},
};

TEST(HardeningRegressions, FilterOrders) {
    for (const Regression &r : kFilterRegressions) {
        char *out = ntsrch_filter_and_sort_tracks_json(r.tracks, nullptr, 0, nullptr, r.sort_mode);
        const std::string got = out ? out : "(null)";
        ntsrch_free(out);
        EXPECT_EQ(got, r.expected) << r.name;
    }
}

} // namespace
