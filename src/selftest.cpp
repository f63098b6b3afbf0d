// SPDX-License-Identifier: MIT
// Built-in check of URL building and title ordering on fixed data, through the same code
// paths the host uses.
#include "internal.h"
#include "ntsrch.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char sample_query[] = "night skies";
constexpr char expected_url[] = NTSRCH_DEFAULT_BASE_URL "/search/api?q=night%20skies&format=json";
constexpr char sample_tracks[] =
    R"([{"title":"Zeta","artist":"B","streamURL":"u1","duration":300,"publishTimestamp":10}, )"
    R"({"title":"Alpha","artist":"A","streamURL":"u2","duration":120,"publishTimestamp":20}])";
constexpr char sample_downloaded[] = R"(["u1"])";

} // namespace

extern "C" NTSRCH_API int ntsrch_selftest(void) {
    char *url = ntsrch::compose_search_url(NTSRCH_DEFAULT_BASE_URL, sample_query);
    const bool url_ok = url != nullptr && std::strcmp(url, expected_url) == 0;
    std::free(url);
    if (!url_ok) return 1;

    char *sorted = ntsrch_filter_and_sort_tracks_json(sample_tracks, "", 0, sample_downloaded,
                                                      NTSRCH_SORT_TITLE_ASC);
    if (sorted == nullptr) return 2;
    const char *alpha = std::strstr(sorted, "\"Alpha\"");
    const char *zeta = std::strstr(sorted, "\"Zeta\"");
    const bool order_ok = alpha != nullptr && zeta != nullptr && alpha < zeta;
    std::free(sorted);
    return order_ok ? 0 : 2;
}
