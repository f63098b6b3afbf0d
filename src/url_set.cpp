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
    h.eat(load_le(p + i, len - i) | static_cast<uint64_t>(len) << 56);
    h.v2 ^= 0xFF;
    for (int r = 0; r < 4; ++r)
        h.round();
    return h.v0 ^ h.v1 ^ h.v2 ^ h.v3;
}

bool slot_less(const url_set::slot &a, const url_set::slot &b) noexcept {
    if (a.hash != b.hash) return a.hash < b.hash;
    return std::strcmp(a.text, b.text) < 0;
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

bool url_set::build(yyjson_val *root) noexcept {
    if (!yyjson_is_arr(root)) return true;
    size_t i, max;
    yyjson_val *v;
    yyjson_arr_foreach(root, i, max, v) count_ += is_member(v);
    if (count_ == 0) return true;
    unsigned bits = 4;
    while ((size_t{1} << bits) / 2 < count_)
        ++bits;
    if (bits < 8 * sizeof(size_t))
        slots_ = static_cast<slot *>(std::calloc(size_t{1} << bits, sizeof(slot)));
    if (slots_ == nullptr) {
        count_ = 0;
        return false;
    }
    shift_ = 64 - bits;
    mask_ = (size_t{1} << bits) - 1;
    if (!fill_table(root)) fill_sorted(root);
    return true;
}

bool url_set::insert(uint64_t h, const char *s) noexcept {
    size_t at = static_cast<size_t>(h >> shift_);
    for (size_t d = 0; d < probe_window; ++d, at = (at + 1) & mask_) {
        slot &e = slots_[at];
        if (e.text == nullptr) {
            e = {h, s};
            return true;
        }
        if (e.hash == h) return std::strcmp(e.text, s) == 0; // a duplicate, or two texts
    }
    return false;
}

// Hashed a batch ahead of the inserts, with each home slot fetched meanwhile: a table
// beyond the cache costs a miss per insert otherwise.
bool url_set::fill_table(yyjson_val *root) noexcept {
    constexpr size_t batch = 16;
    slot pending[batch];
    size_t n = 0;
    size_t i, max;
    yyjson_val *v;
    yyjson_arr_foreach(root, i, max, v) {
        if (!is_member(v)) continue;
        const char *s = unsafe_yyjson_get_str(v);
        const uint64_t h = url_hash(s, text_len(v));
        __builtin_prefetch(slots_ + (h >> shift_), 1);
        pending[n++] = {h, s};
        if (n == batch) {
            for (const slot &p : pending)
                if (!insert(p.hash, p.text)) return false;
            n = 0;
        }
    }
    for (size_t k = 0; k < n; ++k)
        if (!insert(pending[k].hash, pending[k].text)) return false;
    return true;
}

// At most half the table's slots: the array fits where the table was.
void url_set::fill_sorted(yyjson_val *root) noexcept {
    size_t i, max;
    yyjson_val *v;
    used_ = 0;
    yyjson_arr_foreach(root, i, max, v) {
        if (!is_member(v)) continue;
        const char *s = unsafe_yyjson_get_str(v);
        slots_[used_++] = {keyed_hash(s, text_len(v)), s};
    }
    std::sort(slots_, slots_ + used_, slot_less);
    sorted_ = true;
}

uint64_t url_set::key(const char *url, size_t len) const noexcept {
    if (count_ == 0) return 0;
    if (sorted_) return keyed_hash(url, len);
    const uint64_t h = url_hash(url, len);
    __builtin_prefetch(slots_ + (h >> shift_));
    return h;
}

bool url_set::contains(const char *url, uint64_t key) const noexcept {
    if (count_ == 0) return false;
    if (!sorted_) {
        size_t at = static_cast<size_t>(key >> shift_);
        for (size_t d = 0; d < probe_window; ++d, at = (at + 1) & mask_) {
            const slot &e = slots_[at];
            if (e.text == nullptr) return false;
            // No other entry has this hash.
            if (e.hash == key) return std::strcmp(e.text, url) == 0;
        }
        return false;
    }
    const slot want{key, url};
    const slot *first = slots_, *end = slots_ + used_;
    const slot *at = std::lower_bound(first, end, want, slot_less);
    return at != end && at->hash == key && std::strcmp(at->text, url) == 0;
}

} // namespace ntsrch
