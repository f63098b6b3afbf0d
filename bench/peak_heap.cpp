// SPDX-License-Identifier: MIT
// Peak heap of one call against the least a yyjson-based call must hold: the parsed input
// document plus the output text. The executable defines the heap functions, so the
// module's and yyjson's blocks are all counted, by their usable size.
#include "downloaded_data.h"

#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void __libc_free(void *);
}

namespace {

size_t live, peak; // single-threaded program

void *counted(void *p) {
    if (p != nullptr) {
        live += malloc_usable_size(p);
        if (live > peak) peak = live;
    }
    return p;
}

} // namespace

extern "C" {

void *malloc(size_t n) {
    return counted(__libc_malloc(n));
}
void *calloc(size_t n, size_t size) {
    return counted(__libc_calloc(n, size));
}
void *realloc(void *p, size_t n) {
    const size_t old = p != nullptr ? malloc_usable_size(p) : 0;
    void *q = __libc_realloc(p, n);
    if (q == nullptr && n != 0) return nullptr; // the old block stays
    live -= old;
    return counted(q);
}
void free(void *p) {
    if (p != nullptr) live -= malloc_usable_size(p);
    __libc_free(p);
}
void *memalign(size_t align, size_t n) {
    return counted(__libc_memalign(align, n));
}
void *aligned_alloc(size_t align, size_t n) {
    return counted(__libc_memalign(align, n));
}
int posix_memalign(void **out, size_t align, size_t n) {
    void *p = counted(__libc_memalign(align, n));
    if (p == nullptr) return 12; // ENOMEM
    *out = p;
    return 0;
}

} // extern "C"

namespace {

std::string repeat(size_t n, const std::function<std::string(size_t)> &element) {
    std::string s(1, '[');
    for (size_t i = 0; i < n; ++i) {
        if (i) s += ',';
        s += element(i);
    }
    s += ']';
    return s;
}

// The parsed input is what reading each of the texts holds, all at once.
void report(const char *name, const std::vector<std::string> &inputs,
            const std::function<char *()> &call) {
    size_t before = live;
    std::vector<yyjson_doc *> docs;
    for (const std::string &input : inputs)
        docs.push_back(yyjson_read(input.data(), input.size(), 0));
    const size_t parsed = live - before;
    for (yyjson_doc *doc : docs)
        yyjson_doc_free(doc);
    size_t text = 0;
    for (const std::string &input : inputs)
        text += input.size();

    before = live;
    peak = live;
    char *out = call();
    const size_t module_peak = peak - before;
    const size_t output = out != nullptr ? std::strlen(out) + 1 : 0;
    ntsrch_free(out);
    const double mb = 1e6, least = static_cast<double>(parsed + output);
    std::printf("%-44s %8.1f %8.1f %8.1f %8.1f %8.1f %6.2f\n", name, text / mb, parsed / mb,
                output / mb, least / mb, module_peak / mb, module_peak / least);
}

} // namespace

int main() {
    std::printf("%-44s %8s %8s %8s %8s %8s %6s\n", "input (MB)", "text", "parsed", "output",
                "least", "peak", "ratio");
    const bench::Dataset &d = bench::dataset(100000);
    const char *t = d.tracks_json.c_str();
    report("100k tracks, all kept, input order", {d.tracks_json},
           [t] { return ntsrch_filter_and_sort_tracks_json(t, nullptr, 0, nullptr, 0); });
    report("100k tracks, all kept, by title", {d.tracks_json}, [t] {
        return ntsrch_filter_and_sort_tracks_json(t, nullptr, 0, nullptr, NTSRCH_SORT_TITLE_ASC);
    });
    report("100k tracks, all kept, by artist", {d.tracks_json}, [t] {
        return ntsrch_filter_and_sort_tracks_json(t, nullptr, 0, nullptr, NTSRCH_SORT_ARTIST_ASC);
    });
    report("100k tracks, \"love\", by title", {d.tracks_json}, [t] {
        return ntsrch_filter_and_sort_tracks_json(t, "love", 0, nullptr, NTSRCH_SORT_TITLE_ASC);
    });

    // Downloaded: the least adds the parsed list, which a list of plain strings, read from
    // its text, does without; the set, one block of slots (a power of two at least twice
    // the list's strings), is printed apart.
    for (bench::url_shape shape :
         {bench::url_shape::common_suffix, bench::url_shape::colliding_64}) {
        const auto sd = bench::shaped(100000, shape);
        std::vector<bool> kept;
        const std::string list = bench::downloaded_list(*sd, false, kept);
        const std::string name =
            std::string("100k x 100k downloaded only, ") + bench::shape_name(shape);
        size_t slots = 16;
        while (slots / 2 < kept.size())
            slots *= 2;
        report(name.c_str(), {sd->tracks_json, list}, [&] {
            return ntsrch_filter_and_sort_tracks_json(sd->tracks_json.c_str(), nullptr, 1,
                                                      list.c_str(), 0);
        });
        std::printf("%-44s %8.1f\n", "  of which the downloaded set (MB)",
                    slots * sizeof(ntsrch::url_set::slot) / 1e6);
    }

    const std::string small = repeat(1000000, [](size_t i) {
        return "{\"title\":\"t" + std::to_string(i % 9973) +
               "\",\"duration\":" + std::to_string(60 + i * 7919 % 600) + "}";
    });
    report("10^6 small tracks, shortest first", {small}, [&small] {
        return ntsrch_filter_and_sort_tracks_json(small.c_str(), nullptr, 0, nullptr,
                                                  NTSRCH_SORT_SHORTEST_FIRST);
    });
    const std::string empty = repeat(1000000, [](size_t) { return "{}"; });
    report("10^6 empty objects, by title", {empty}, [&empty] {
        return ntsrch_filter_and_sort_tracks_json(empty.c_str(), nullptr, 0, nullptr,
                                                  NTSRCH_SORT_TITLE_ASC);
    });
    const std::string numbers = repeat(1000000, [](size_t i) { return std::to_string(i % 10); });
    report("10^6 numbers, all dropped", {numbers}, [&numbers] {
        return ntsrch_filter_and_sort_tracks_json(numbers.c_str(), nullptr, 0, nullptr, 0);
    });
    const std::string unified = bench::unified(100000);
    report("unified result, normalized", {unified}, [&unified] {
        return ntsrch_normalize_unified_results_json(unified.data(), unified.size());
    });
    return 0;
}
