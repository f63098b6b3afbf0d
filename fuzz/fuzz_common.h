/* SPDX-License-Identifier: MIT */
// Shared by the fuzz targets: input splitting, a small reference model of the documented
// behaviour, and a loud stop when the module departs from it.
#ifndef NTSRCH_FUZZ_COMMON_H
#define NTSRCH_FUZZ_COMMON_H

#include "ntsrch.h"

#include <yyjson.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fz {

[[noreturn]] inline void fail(const char *what, const std::string &detail = {}) {
    std::fprintf(stderr, "property violated: %s\n%s\n", what, detail.c_str());
    std::abort();
}

inline void check(bool ok, const char *what, const std::string &detail = {}) {
    if (!ok) fail(what, detail);
}

// Flag bytes first, then NUL-separated parts; missing parts are empty.
struct Input {
    unsigned char b0 = 0, b1 = 0;
    std::vector<std::string> parts;
};

inline Input split(const uint8_t *data, size_t size, size_t flag_bytes, size_t nparts) {
    Input in;
    if (flag_bytes > 0 && size > 0) in.b0 = data[0];
    if (flag_bytes > 1 && size > 1) in.b1 = data[1];
    size_t i = flag_bytes < size ? flag_bytes : size;
    for (size_t p = 0; p < nparts; ++p) {
        size_t j = i;
        if (p + 1 < nparts) {
            while (j < size && data[j] != 0)
                ++j;
        } else {
            j = size;
        }
        std::string part(reinterpret_cast<const char *>(data) + i, j - i);
        if (p + 1 == nparts) part = part.c_str(); // the last part is read as C text too
        in.parts.push_back(part);
        i = j < size ? j + 1 : size;
    }
    return in;
}

constexpr bool is_space(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr unsigned char fold(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

inline yyjson_doc *read(const char *s, size_t n) {
    return yyjson_read_opts(const_cast<char *>(s), n, 0, nullptr, nullptr);
}

inline std::string show(const char *s) {
    return s ? std::string(s) : std::string("(null)");
}

} // namespace fz

#endif
