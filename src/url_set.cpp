// SPDX-License-Identifier: MIT
// The downloaded set. Open addressing with linear probing at a load of at most one half;
// the table holds no two equal hashes and no entry farther than a fixed window from its
// home slot, so a lookup costs at most one string compare and a bounded row of word
// compares. A list that breaks either rule, which random text does with negligible odds,
// was built against the table's hash: it is sorted instead, in the same block, by a keyed
// hash (SipHash-2-4 with a fixed key) and then by its bytes, and a lookup becomes a binary
// search of at most log2(m) + 1 compares. The table's hash can be inverted, which is how
// such lists are made; many texts sharing one keyed hash cannot be made, so the bytes are
// rarely read. Either way no list takes the call beyond O((n + m) log m) compares.
#include "url_set.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace ntsrch {

namespace {

// Linear probing at load 1/2 displaces an entry by about 3 ln(m) slots at the most, some
// 60 for a million URLs: a window of 128 is never reached by chance.
constexpr size_t probe_window = 128;

size_t text_len(yyjson_val *v) noexcept {
    const char *s = unsafe_yyjson_get_str(v);
    const size_t stored = unsafe_yyjson_get_len(v);
    const void *nul = std::memchr(s, '\0', stored);
    return nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - s) : stored;
}

// The empty text is never looked up: such strings are left out.
bool is_member(yyjson_val *v) noexcept {
    return yyjson_is_str(v) && unsafe_yyjson_get_str(v)[0] != '\0';
}

struct sip {
    uint64_t v0, v1, v2, v3;
    void round() noexcept {
        v0 += v1;
        v1 = std::rotl(v1, 13) ^ v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16) ^ v2;
        v0 += v3;
        v3 = std::rotl(v3, 21) ^ v0;
        v2 += v1;
        v1 = std::rotl(v1, 17) ^ v2;
        v2 = std::rotl(v2, 32);
    }
    void eat(uint64_t m) noexcept {
        v3 ^= m;
        round();
        round();
        v0 ^= m;
    }
};

uint64_t keyed_hash(const char *s, size_t len) noexcept {
    constexpr uint64_t k0 = 0x2B7E151628AED2A6ULL, k1 = 0xABF7158809CF4F3CULL;
    sip h{k0 ^ 0x736F6D6570736575ULL, k1 ^ 0x646F72616E646F6DULL, k0 ^ 0x6C7967656E657261ULL,
          k1 ^ 0x7465646279746573ULL};
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    size_t i = 0;
    for (; i + 8 <= len; i += 8)
        h.eat(load_le(p + i, 8));
    h.eat(load_le_tail(p, len) | static_cast<uint64_t>(len) << 56);
    h.v2 ^= 0xFF;
    for (int r = 0; r < 4; ++r)
        h.round();
    return h.v0 ^ h.v1 ^ h.v2 ^ h.v3;
}

bool slot_less(const url_set::slot &a, const url_set::slot &b) noexcept {
    if (a.hash != b.hash) return a.hash < b.hash;
    const int c = std::memcmp(a.text, b.text, std::min(a.len, b.len));
    return c != 0 ? c < 0 : a.len < b.len;
}

bool same_text(const url_set::slot &e, const char *s, size_t len) noexcept {
    return e.len == len && std::memcmp(e.text, s, len) == 0;
}

bool is_json_space(char c) noexcept {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

using block = signed char __attribute__((vector_size(16)));

// Where in the 16 bytes at p the first one lies that a string cannot hold undecoded (the
// quote, the backslash, control bytes and bytes from 0x80), or 16 for none.
size_t first_special(const char *p) noexcept {
    block b;
    std::memcpy(&b, p, sizeof b);
    // From 0x80 up, bytes are negative as signed chars.
    const block flags = (b < 0x20) | (b == '"') | (b == '\\');
    uint64_t half[2];
    std::memcpy(half, &flags, sizeof half);
    if ((half[0] | half[1]) == 0) return 16;
    // Each flagged byte is 0xFF; the first in memory is the lowest on a little-endian host.
    const auto first = [](uint64_t h) {
        return static_cast<size_t>(std::endian::native == std::endian::little
                                       ? std::countr_zero(h)
                                       : std::countl_zero(h)) /
               8;
    };
    return half[0] != 0 ? first(half[0]) : 8 + first(half[1]);
}

// The closing quote of the string whose bytes start at p; null when a byte before it needs
// decoding or the text ends first.
const char *plain_string_end(const char *p, const char *end) noexcept {
    for (; end - p >= 16; p += 16) {
        const size_t at = first_special(p);
        if (at != 16) return p[at] == '"' ? p + at : nullptr;
    }
    for (; p != end; ++p) {
        const signed char c = static_cast<signed char>(*p);
        if (c < 0x20 || c == '"' || c == '\\') return c == '"' ? p : nullptr;
    }
    return nullptr;
}

// Two quotes for each string of a plain list: an upper bound of its members. Zero as well
// for a text with a backslash or a byte from 0x80, which only the reader can take.
size_t quotes_in(const char *p, const char *end) noexcept {
    size_t n = 0;
    block refused = {};
    while (end - p >= 16) {
        block counts = {}; // minus the quotes at each of the 16 offsets, for up to 127 blocks
        for (int k = 0; k < 127 && end - p >= 16; ++k, p += 16) {
            block b;
            std::memcpy(&b, p, sizeof b);
            counts += b == '"';
            refused |= (b == '\\') | (b < 0);
        }
        for (int i = 0; i < 16; ++i)
            n += static_cast<size_t>(-counts[i]);
    }
    bool any = false;
    for (int i = 0; i < 16; ++i)
        any = any || refused[i] != 0;
    for (; p != end; ++p) {
        n += *p == '"';
        any = any || *p == '\\' || static_cast<signed char>(*p) < 0;
    }
    return any ? 0 : n;
}

// Calls f(text, len) for each string of a JSON array of strings that need no decoding, in
// order, until f returns false. The text is read only as far as the walk goes: a text
// that departs from that form is found when its walk reaches the place.
template <class F> url_set::walk each_plain_string(const char *p, const char *end, F &&f) noexcept {
    using walk = url_set::walk;
    const auto skip_space = [&p, end] {
        while (p != end && is_json_space(*p))
            ++p;
    };
    skip_space();
    if (p == end || *p++ != '[') return walk::other_text;
    skip_space();
    if (p != end && *p == ']') {
        ++p;
    } else {
        for (;;) {
            if (p == end || *p != '"') return walk::other_text;
            const char *close = plain_string_end(p + 1, end);
            if (close == nullptr) return walk::other_text;
            const size_t len = static_cast<size_t>(close - (p + 1));
            if (len != 0 && !f(p + 1, len)) return walk::stopped;
            p = close + 1;
            skip_space();
            if (p == end) return walk::other_text;
            if (*p++ == ']') break;
            if (p[-1] != ',') return walk::other_text;
            skip_space();
        }
    }
    skip_space();
    return p == end ? walk::done : walk::other_text;
}

} // namespace

url_set::~url_set() {
    release();
}

void url_set::release() noexcept {
    std::free(slots_);
    slots_ = nullptr;
    count_ = used_ = 0;
    sorted_ = false;
}

// A table for count members.
bool url_set::allocate(size_t count) noexcept {
    unsigned bits = 4;
    while ((size_t{1} << bits) / 2 < count)
        ++bits;
    if (bits < 8 * sizeof(size_t))
        slots_ = static_cast<slot *>(std::calloc(size_t{1} << bits, sizeof(slot)));
    if (slots_ == nullptr) return false;
    shift_ = 64 - bits;
    mask_ = (size_t{1} << bits) - 1;
    return true;
}

bool url_set::build(yyjson_val *root) noexcept {
    if (!yyjson_is_arr(root)) return true;
    size_t i, max, count = 0;
    yyjson_val *v;
    yyjson_arr_foreach(root, i, max, v) count += is_member(v);
    if (count == 0) return true;
    if (!allocate(count)) return false;
    const auto members = [root](auto &&f) {
        size_t k, end;
        yyjson_val *m;
        yyjson_arr_foreach(root, k, end, m) {
            if (is_member(m) && !f(unsafe_yyjson_get_str(m), text_len(m))) return walk::stopped;
        }
        return walk::done;
    };
    if (fill_table(members) == walk::stopped) fill_sorted(members);
    return true;
}

// One walk over the text in the usual case, with a table sized by its quotes. The walk up
// to the first member settles, without a table, a text that is the reader's from its start
// and one without members; a text that turns to the reader later costs the table, dropped.
url_set::plain url_set::build_plain(const char *text, size_t len) noexcept {
    const char *end = text + len;
    const auto members = [text, end](auto &&f) { return each_plain_string(text, end, f); };
    const walk start = members([](const char *, size_t) { return false; });
    if (start == walk::done) return plain::built;
    const size_t quotes = start == walk::stopped ? quotes_in(text, end) : 0;
    if (quotes == 0) return plain::other_text;
    if (!allocate(quotes / 2)) return plain::no_memory;
    walk w = fill_table(members);
    if (w == walk::stopped) w = fill_sorted(members);
    if (w == walk::other_text) {
        release();
        return plain::other_text;
    }
    return plain::built;
}

bool url_set::insert(const slot &s) noexcept {
    size_t at = static_cast<size_t>(s.hash >> shift_);
    for (size_t d = 0; d < probe_window; ++d, at = (at + 1) & mask_) {
        slot &e = slots_[at];
        if (e.text == nullptr) {
            e = s;
            return true;
        }
        // A duplicate, or two texts of one hash.
        if (e.hash == s.hash) return same_text(e, s.text, s.len);
    }
    return false;
}

// Hashed a batch ahead of the inserts, with each home slot fetched meanwhile: a table
// beyond the cache costs a miss per insert otherwise.
template <class Each> url_set::walk url_set::fill_table(Each &&each) noexcept {
    constexpr size_t batch = 16;
    slot pending[batch];
    size_t n = 0;
    count_ = 0;
    const walk w = each([&](const char *s, size_t len) {
        const uint64_t h = url_hash(s, len);
        __builtin_prefetch(slots_ + (h >> shift_), 1);
        pending[n++] = {h, s, len};
        ++count_;
        if (n < batch) return true;
        n = 0;
        for (const slot &p : pending)
            if (!insert(p)) return false;
        return true;
    });
    if (w != walk::done) return w;
    for (size_t k = 0; k < n; ++k)
        if (!insert(pending[k])) return walk::stopped;
    return walk::done;
}

// At most half the table's slots: the array fits where the table was.
template <class Each> url_set::walk url_set::fill_sorted(Each &&each) noexcept {
    used_ = 0;
    const walk w = each([this](const char *s, size_t len) {
        slots_[used_++] = {keyed_hash(s, len), s, len};
        return true;
    });
    count_ = used_;
    std::sort(slots_, slots_ + used_, slot_less);
    sorted_ = true;
    return w;
}

uint64_t url_set::key(const char *url, size_t len) const noexcept {
    if (count_ == 0) return 0;
    if (sorted_) return keyed_hash(url, len);
    const uint64_t h = url_hash(url, len);
    __builtin_prefetch(slots_ + (h >> shift_));
    return h;
}

bool url_set::contains(const char *url, size_t len, uint64_t key) const noexcept {
    if (count_ == 0) return false;
    if (!sorted_) {
        size_t at = static_cast<size_t>(key >> shift_);
        for (size_t d = 0; d < probe_window; ++d, at = (at + 1) & mask_) {
            const slot &e = slots_[at];
            if (e.text == nullptr) return false;
            // No other entry has this hash.
            if (e.hash == key) return same_text(e, url, len);
        }
        return false;
    }
    const slot want{key, url, len};
    const slot *first = slots_, *end = slots_ + used_;
    const slot *at = std::lower_bound(first, end, want, slot_less);
    return at != end && at->hash == key && same_text(*at, url, len);
}

} // namespace ntsrch
