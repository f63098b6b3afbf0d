/* SPDX-License-Identifier: MIT */
// The downloaded stream URLs of one call as a set: a hash table that turns into a sorted
// array when its input shows signs of being built against the hash.
#ifndef NTSRCH_URL_SET_H
#define NTSRCH_URL_SET_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <yyjson.h>

namespace ntsrch {

constexpr uint64_t URL_HASH_SEED = 0x243F6A8885A308D3ULL;
constexpr uint64_t URL_HASH_MUL = 0x9FB21C651E98DF25ULL;
constexpr unsigned URL_HASH_ROT = 29;
constexpr uint64_t URL_FMIX_1 = 0xFF51AFD7ED558CCDULL, URL_FMIX_2 = 0xC4CEB9FE1A85EC53ULL;

// n (at most 8) bytes as a little-endian word whatever the host's byte order, so the
// hash of a text is the same everywhere.
inline uint64_t load_le(const unsigned char *p, size_t n) noexcept {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}

inline uint64_t url_hash_step(uint64_t h, uint64_t word) noexcept {
    return (std::rotl(h, URL_HASH_ROT) ^ word) * URL_HASH_MUL;
}

inline uint64_t url_hash_final(uint64_t h, size_t len) noexcept {
    h ^= static_cast<uint64_t>(len);
    h ^= h >> 33;
    h *= URL_FMIX_1;
    h ^= h >> 33;
    h *= URL_FMIX_2;
    return h ^ (h >> 33);
}

// The state after the whole words of the first len bytes of s.
inline uint64_t url_hash_words(uint64_t h, const char *s, size_t len) noexcept {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    for (size_t i = 0; i + 8 <= len; i += 8)
        h = url_hash_step(h, load_le(p + i, 8));
    return h;
}

// The last len % 8 bytes of the len bytes at p as load_le gives them. From 8 bytes on they
// are cut from the last whole word: a copy of a variable size would be made a byte at a
// time, and the word read back from those stores waits for them.
inline uint64_t load_le_tail(const unsigned char *p, size_t len) noexcept {
    const size_t tail = len % 8;
    if (tail == 0) return 0;
    if (len < 8) return load_le(p, tail);
    return load_le(p + len - 8, 8) >> (8 * (8 - tail));
}

// The len bytes of s, read a word at a time. Every step is invertible: no secret protects
// the table, its overflow rule does.
inline uint64_t url_hash(const char *s, size_t len) noexcept {
    uint64_t h = url_hash_words(URL_HASH_SEED, s, len);
    if (len % 8 != 0)
        h = url_hash_step(h, load_le_tail(reinterpret_cast<const unsigned char *>(s), len));
    return url_hash_final(h, len);
}

// The inverse, kept beside the hash so that lists built to collide in it (by the tests and
// the bench) follow any change: the last word that makes a text of len bytes, a multiple
// of 8, hash to target when its other words leave the state h.
constexpr uint64_t odd_inverse(uint64_t a) noexcept {
    uint64_t x = a; // right in the low 3 bits; each step doubles that
    for (int i = 0; i < 5; ++i)
        x *= 2 - a * x;
    return x;
}

inline uint64_t url_hash_last_word(uint64_t h, size_t len, uint64_t target) noexcept {
    uint64_t x = target ^ (target >> 33);
    x *= odd_inverse(URL_FMIX_2);
    x ^= x >> 33;
    x *= odd_inverse(URL_FMIX_1);
    x ^= x >> 33;
    x ^= static_cast<uint64_t>(len);
    return (x * odd_inverse(URL_HASH_MUL)) ^ std::rotl(h, URL_HASH_ROT);
}

class url_set {
  public:
    url_set() = default;
    url_set(const url_set &) = delete;
    url_set &operator=(const url_set &) = delete;
    ~url_set();

    // The strings of the array root, each up to its first NUL; other values, nested ones
    // included, are not members, nor is the empty text. False only when memory runs out.
    bool build(yyjson_val *root) noexcept;
    enum class plain { built, other_text, no_memory };
    // The same set read straight from a list's JSON text of len bytes, which must outlive
    // it, when that text is an array of strings that need no decoding (no escape, control
    // or non-ASCII byte): what encoders write for URLs, with no document to build. Any
    // other text is left to the reader and build().
    plain build_plain(const char *text, size_t len) noexcept;
    // The lookup key of url (len bytes up to its terminator, no NUL among them); its slot
    // is fetched meanwhile, so the key is best taken a little before the lookup.
    uint64_t key(const char *url, size_t len) const noexcept;
    // Fetches the text of the member in key's home slot, best a few tracks after key()
    // and before the lookup.
    void fetch_member(uint64_t key) const noexcept {
        // Whatever the slot holds: a test would be a branch that fails half the time. The
        // prefetches stay out of the branch, since GCC drops a branch that only prefetches.
        const char *text = nullptr;
        size_t len = 0;
        if (!sorted_ && count_ != 0) {
            const slot &s = slots_[key >> shift_];
            text = s.text;
            len = s.len;
        }
        // Both ends: a URL spans two lines more often than not.
        __builtin_prefetch(text);
        __builtin_prefetch(text + len);
    }
    // Whether the set holds url, of len bytes, whose key() is key.
    bool contains(const char *url, size_t len, uint64_t key) const noexcept;
    bool empty() const noexcept { return count_ == 0; }
    void release() noexcept;

    // How a walk over the members ended: all seen, stopped by the visitor, or at a text
    // that is not a plain list after all.
    enum class walk { done, stopped, other_text };

    struct slot {
        uint64_t hash;
        const char *text; // null: a free table slot
        size_t len;       // the text need not end in a NUL
    };

  private:
    bool allocate(size_t count) noexcept;
    // each(f) calls f(text, len) for every member until f returns false.
    template <class Each> walk fill_table(Each &&each) noexcept;
    // False when h is taken by another text or its window is full.
    bool insert(const slot &s) noexcept;
    template <class Each> walk fill_sorted(Each &&each) noexcept;

    slot *slots_ = nullptr;
    size_t count_ = 0;    // members in the list, duplicates included
    unsigned shift_ = 64; // 64 - log2(table size): the top bits of a hash pick its slot
    size_t mask_ = 0;     // table size - 1
    size_t used_ = 0;     // sorted array length
    bool sorted_ = false;
};

} // namespace ntsrch

#endif
