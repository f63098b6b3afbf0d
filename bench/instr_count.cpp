// SPDX-License-Identifier: MIT
// Instruction counts of each case at 100k tracks: the module's call, the copy floor and the
// direct floor, each collected alone under callgrind and dumped under its own name
// (bench/callgrind-ratios runs it and prints the ratios).
#include "bench_data.h"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <string>

namespace {

template <class Call> void count(const std::string &name, Call &&call) {
    CALLGRIND_TOGGLE_COLLECT;
    char *s = call();
    CALLGRIND_TOGGLE_COLLECT;
    std::free(s);
    CALLGRIND_DUMP_STATS_AT(name.c_str());
}

} // namespace

int main() {
    const bench::Dataset &d = bench::dataset(100000);
    std::vector<yyjson_val *> elems;
    for (const bench::filter_case &c : bench::filter_cases) {
        const std::vector<size_t> order =
            bench::expected_order(d, c.query, c.downloaded_only, c.mode);
        count(std::string(c.name) + " lib", [&] { return bench::filter_call(d, c); });
        count(std::string(c.name) + " copy",
              [&] { return bench::copy_floor_filter(d, c.downloaded_only, order, elems); });
        count(std::string(c.name) + " direct", [&] { return bench::direct_floor(d.tracks_json); });
    }
    const std::string unified = bench::unified(100000);
    count("normalize lib",
          [&] { return ntsrch_normalize_unified_results_json(unified.data(), unified.size()); });
    count("normalize copy", [&] { return bench::copy_floor_normalize(unified); });
    count("normalize direct", [&] { return bench::direct_floor(unified); });
    return 0;
}
