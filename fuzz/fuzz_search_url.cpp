// SPDX-License-Identifier: MIT
// ntsrch_build_search_url on arbitrary bytes: the URL is the trimmed base, the fixed path,
// then only unreserved bytes and upper-case %XX that decode back to the query.
#include "fuzz_common.h"

namespace {

bool unreserved(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexval(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1; // lower-case hex is not the documented form
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // b0: bit 0 base given, bit 1 query null.
    const fz::Input in = fz::split(data, size, 1, 2);
    const bool with_base = in.b0 & 1, null_query = in.b0 & 2;
    const std::string &base = in.parts[0];
    const std::string query = with_base ? in.parts[1] : in.parts[0] + in.parts[1];

    char *url = ntsrch_build_search_url(with_base ? base.c_str() : nullptr,
                                        null_query ? nullptr : query.c_str());
    const std::string err = ntsrch_last_error();
    if (null_query) {
        fz::check(url == nullptr && err == "null query", "null query not reported");
        return 0;
    }
    size_t start = 0;
    while (start < query.size() && fz::is_space(query[start]))
        ++start;
    if (start == query.size()) {
        fz::check(url == nullptr && err == "empty query", "blank query not reported", query);
        return 0;
    }
    fz::check(url != nullptr && err.empty(), "valid query failed", err);
    const std::string u = url;
    ntsrch_free(url);

    std::string b = with_base && !base.empty() ? base : NTSRCH_DEFAULT_BASE_URL;
    while (!b.empty() && b.back() == '/')
        b.pop_back();
    const std::string head = b + "/search/api?q=", tail = "&format=json";
    fz::check(u.size() >= head.size() + tail.size() && u.compare(0, head.size(), head) == 0 &&
                  u.compare(u.size() - tail.size(), tail.size(), tail) == 0,
              "base, path or format part wrong", u);
    std::string decoded;
    for (size_t i = head.size(); i < u.size() - tail.size(); ++i) {
        const unsigned char c = u[i];
        if (c == '%') {
            const int hi = i + 2 < u.size() ? hexval(u[i + 1]) : -1;
            const int lo = hi >= 0 ? hexval(u[i + 2]) : -1;
            fz::check(lo >= 0, "bad percent escape", u);
            const unsigned char d = static_cast<unsigned char>(hi * 16 + lo);
            fz::check(!unreserved(d), "unreserved byte escaped", u);
            decoded += static_cast<char>(d);
            i += 2;
        } else {
            fz::check(unreserved(c), "reserved byte left unencoded", u);
            decoded += static_cast<char>(c);
        }
    }
    fz::check(decoded == query.substr(start), "encoded query does not decode to the input", u);
    return 0;
}
