/* SPDX-License-Identifier: MIT */
// Shared by the module's source files; never installed.
#ifndef NTSRCH_INTERNAL_H
#define NTSRCH_INTERNAL_H

#include <cstddef>

#define NTSRCH_ERR_CAPACITY 256
#define NTSRCH_QUERY_CAPACITY 256

// The build's option NTSRCH_DEFAULT_BASE_URL is its one home: every build defines it.
#ifndef NTSRCH_DEFAULT_BASE_URL
#error "NTSRCH_DEFAULT_BASE_URL is not defined: the build passes it (CMake option NTSRCH_DEFAULT_BASE_URL)"
#endif

namespace ntsrch {

// Last-error text of the calling thread. Messages are string literals far shorter than
// the buffer.
void set_error(const char *msg) noexcept;
void clear_error() noexcept;

// ASCII-only classification: the host may switch the process locale, and we must not
// fold or encode differently because of it.
constexpr bool is_space(unsigned char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool is_alnum(unsigned char c) noexcept {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr unsigned char to_lower(unsigned char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// The URL builder after its null-query check. Leaves the last-error text alone on
// success; returns null with "empty query" set, or null with the text cleared when
// memory runs out.
char *compose_search_url(const char *base_url, const char *query) noexcept;

} // namespace ntsrch

#endif
