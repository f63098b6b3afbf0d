// SPDX-License-Identifier: MIT
// How each case's cost grows: nanoseconds per input byte (track list plus downloaded list)
// at 10^3 to 10^6 tracks, the best of a few calls. Beside each case's growth from 10^5 to
// 10^6 stands that growth over yyjson's own (parse and write the whole list, timed in the
// same run): past the caches every call pays for fresh pages, whose cost is the machine's.
// Prints the table and writes it as tab-separated text to the file named by the argument,
// for scaling_plot.py.
#include "downloaded_data.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <cstdio>

namespace {

constexpr size_t sizes[] = {1000, 10000, 100000, 1000000};

double best_ns(const std::function<char *()> &call, int rounds,
               void (*release)(void *) = ntsrch_free) {
    double best = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        char *s = call();
        const double ns =
            std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
        release(s);
        if (r == 0 || ns < best) best = ns;
    }
    return best;
}

// A 10^6 call sometimes takes half again as long as the one before it (the kernel's fresh
// pages): five calls there find the usual time where three did not always.
int rounds_for(size_t n) {
    return n <= 1000 ? 20 : n <= 10000 ? 5 : n <= 100000 ? 3 : 5;
}

} // namespace

int main(int argc, char **argv) {
    std::map<std::string, std::vector<double>> table; // case -> ns per byte, by size
    const std::string baseline = "yyjson_parse_write";
    std::vector<std::string> names;
    auto record = [&](const std::string &name, double ns, size_t bytes) {
        if (table.find(name) == table.end()) names.push_back(name);
        table[name].push_back(ns / static_cast<double>(bytes));
    };
    for (size_t n : sizes) {
        const int rounds = rounds_for(n);
        {
            const bench::Dataset &d = bench::dataset(n);
            record(baseline,
                   best_ns([&] { return bench::direct_floor(d.tracks_json); }, rounds, std::free),
                   d.tracks_json.size());
            for (const bench::filter_case &c : bench::filter_cases)
                record(c.name, best_ns([&] { return bench::filter_call(d, c); }, rounds),
                       d.tracks_json.size() + (c.downloaded_only ? d.downloaded_json.size() : 0));
        }
        for (bench::url_shape s :
             {bench::url_shape::distinct_tails, bench::url_shape::common_suffix,
              bench::url_shape::common_prefix}) {
            const auto d = bench::shaped(n, s);
            std::vector<bool> kept;
            const std::string list = bench::downloaded_list(*d, false, kept);
            for (bool first : {false, true}) {
                const double ns = best_ns(
                    [&] {
                        return ntsrch_filter_and_sort_tracks_json(
                            d->tracks_json.c_str(), nullptr, first ? 0 : 1, list.c_str(),
                            first ? NTSRCH_SORT_DOWNLOADED_FIRST : 0);
                    },
                    rounds);
                record(std::string("dl_") + bench::shape_name(s) + (first ? "_first" : "_only"), ns,
                       d->tracks_json.size() + list.size());
            }
        }
    }
    std::printf("ns per input byte (best of 20/5/3/5 calls); 6/5: 10^6 over 10^5, then that over "
                "%s's\n",
                baseline.c_str());
    std::printf("%-26s %9s %9s %9s %9s %9s %9s\n", "case", "10^3", "10^4", "10^5", "10^6", "6/5",
                "vs yyjson");
    const double base_growth = table[baseline][3] / table[baseline][2];
    FILE *out = argc > 1 ? std::fopen(argv[1], "w") : nullptr;
    if (out != nullptr) std::fprintf(out, "case\t1000\t10000\t100000\t1000000\n");
    for (const std::string &name : names) {
        const std::vector<double> &v = table[name];
        std::printf("%-26s %9.3f %9.3f %9.3f %9.3f %8.2fx %8.2fx\n", name.c_str(), v[0], v[1], v[2],
                    v[3], v[3] / v[2], v[3] / v[2] / base_growth);
        if (out != nullptr)
            std::fprintf(out, "%s\t%g\t%g\t%g\t%g\n", name.c_str(), v[0], v[1], v[2], v[3]);
    }
    if (out != nullptr) std::fclose(out);
    return 0;
}
