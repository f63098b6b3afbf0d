// SPDX-License-Identifier: MIT
// Search request URLs: base + "/search/api?q=" + percent-encoded query + "&format=json".
#include "internal.h"
#include "ntsrch.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char hex[] = "0123456789ABCDEF";
constexpr char path_part[] = "/search/api?q=";
constexpr char format_part[] = "&format=json";

constexpr bool is_unreserved(unsigned char c) noexcept {
    return ntsrch::is_alnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

} // namespace

namespace ntsrch {

char *compose_search_url(const char *base_url, const char *query) noexcept {
    const unsigned char *q = reinterpret_cast<const unsigned char *>(query);
    while (*q != '\0' && is_space(*q))
        ++q;
    if (*q == '\0') {
        set_error("empty query");
        return nullptr;
    }

    const char *base =
        (base_url == nullptr || base_url[0] == '\0') ? NTSRCH_DEFAULT_BASE_URL : base_url;
    size_t base_len = std::strlen(base);
    while (base_len > 0 && base[base_len - 1] == '/')
        --base_len;

    // One pass measures the encoded length, the other writes it straight into the result.
    size_t enc_len = 0;
    for (const unsigned char *s = q; *s != '\0'; ++s) {
        const size_t add = is_unreserved(*s) ? 1 : 3;
        if (enc_len > SIZE_MAX - add) {
            clear_error();
            return nullptr;
        }
        enc_len += add;
    }
    constexpr size_t fixed = sizeof(path_part) - 1 + sizeof(format_part) - 1;
    if (base_len > SIZE_MAX - fixed - 1 || enc_len > SIZE_MAX - fixed - 1 - base_len) {
        clear_error(); // an overflowing size is treated like a failed allocation
        return nullptr;
    }
    char *url = static_cast<char *>(std::malloc(base_len + fixed + enc_len + 1));
    if (url == nullptr) {
        clear_error();
        return nullptr;
    }
    // Copied by length: a printf precision is an int and would cut a huge base.
    char *p = url;
    std::memcpy(p, base, base_len);
    p += base_len;
    std::memcpy(p, path_part, sizeof(path_part) - 1);
    p += sizeof(path_part) - 1;
    for (; *q != '\0'; ++q) {
        const unsigned char b = *q;
        if (is_unreserved(b)) {
            *p++ = static_cast<char>(b);
        } else {
            *p++ = '%';
            *p++ = hex[b >> 4];
            *p++ = hex[b & 0x0F];
        }
    }
    std::memcpy(p, format_part, sizeof(format_part) - 1);
    p += sizeof(format_part) - 1;
    *p = '\0';
    return url;
}

} // namespace ntsrch

extern "C" NTSRCH_API char *ntsrch_build_search_url(const char *base_url, const char *query) {
    if (query == nullptr) {
        ntsrch::set_error("null query");
        return nullptr;
    }
    char *url = ntsrch::compose_search_url(base_url, query);
    if (url != nullptr) ntsrch::clear_error();
    return url;
}
