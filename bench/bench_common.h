/* SPDX-License-Identifier: MIT */
// Times the module's call and its yyjson-only floors in alternation inside one benchmark,
// so machine noise hits all alike; reports each and the module's ratio to each.
#ifndef NTSRCH_BENCH_COMMON_H
#define NTSRCH_BENCH_COMMON_H

#include <benchmark/benchmark.h>

#include "ntsrch.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

// lib and the copy floor return the same malloc'd text, which is checked before their
// times mean anything; the direct floor writes the whole input back.
template <class Lib, class CopyFloor, class DirectFloor>
void run_against_floors(benchmark::State &state, Lib &&lib, CopyFloor &&copy_floor,
                        DirectFloor &&direct_floor) {
    char *a = lib();
    char *b = copy_floor();
    const bool same = a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
    ntsrch_free(a);
    std::free(b);
    if (!same) {
        state.SkipWithError("module output differs from the copy floor's");
        return;
    }
    using clock = std::chrono::steady_clock;
    double ns[3] = {0, 0, 0};
    auto timed = [](double &total, auto &&call, void (*release)(void *)) {
        const auto t0 = clock::now();
        char *s = call();
        benchmark::DoNotOptimize(s);
        release(s);
        total += std::chrono::duration<double, std::nano>(clock::now() - t0).count();
    };
    for (auto _ : state) {
        timed(ns[0], lib, ntsrch_free);
        timed(ns[1], copy_floor, std::free);
        timed(ns[2], direct_floor, std::free);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["lib_ms"] = ns[0] / n / 1e6;
    state.counters["copy_ms"] = ns[1] / n / 1e6;
    state.counters["direct_ms"] = ns[2] / n / 1e6;
    state.counters["vs_copy"] = ns[0] / ns[1];
    state.counters["vs_direct"] = ns[0] / ns[2];
}

#endif
