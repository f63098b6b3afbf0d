// SPDX-License-Identifier: MIT
// The writer's output lands at an aligned spot past the text (its work stack lives at the
// end of the block it allocates) and is then moved down into place, still hot in cache.
#include "json_text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ntsrch {

namespace {

constexpr size_t piece_align = alignof(std::max_align_t);

// Values per batch, header included: small enough to stay in cache, large enough that the
// writer's fixed cost per call vanishes.
constexpr size_t batch_capacity = 4096;

// Moves n bytes down to dst < src. memmove would pick `rep movsb` for the larger pieces,
// no faster here, and counted as one instruction per byte by callgrind, where the goals
// are measured.
void shift_down(char *dst, const char *src, size_t n) noexcept {
    using block = unsigned char __attribute__((vector_size(64)));
    size_t i = 0;
    // Each block is loaded before any of its bytes can be overwritten.
    for (; i + sizeof(block) <= n; i += sizeof(block)) {
        block b;
        std::memcpy(&b, src + i, sizeof b);
        std::memcpy(dst + i, &b, sizeof b);
    }
    for (; i < n; ++i)
        dst[i] = src[i];
}

// yyjson 0.10's writer checks its room as `cur + len * 6 + 16 >= end`, a pointer sum that
// wraps where addresses are 32 bits, and then writes past its block. Its blocks are handed
// out here, so a block is refused that ends too near the top of the address space for the
// strings still to be written: the call then fails as out of memory.
constexpr bool narrow_addresses = sizeof(void *) < sizeof(uint64_t);

constexpr size_t string_room(size_t len) noexcept {
    return len >= (SIZE_MAX - 16) / 6 ? SIZE_MAX : len * 6 + 16;
}

} // namespace

// What the writer may ask beyond its position for one string of v: for the longest, and
// for any other.
void json_text::measure(yyjson_val *v) noexcept {
    size_t longest = 0, next = 0;
    for (yyjson_val *end = unsafe_yyjson_get_next(v); v < end; ++v) {
        const yyjson_type type = unsafe_yyjson_get_type(v);
        if (type != YYJSON_TYPE_STR && type != YYJSON_TYPE_RAW) continue;
        const size_t len = unsafe_yyjson_get_len(v);
        if (len > longest) {
            next = longest;
            longest = len;
        } else if (len > next) {
            next = len;
        }
    }
    room_ = string_room(longest);
    // Numbers and containers ask at most 32.
    room_rest_ = std::max(string_room(next), size_t{64});
}

bool json_text::below_wrap(const char *block, size_t size) const noexcept {
    if constexpr (!narrow_addresses) return true;
    const uint64_t top = uint64_t{UINTPTR_MAX} + 1;
    return uint64_t{reinterpret_cast<uintptr_t>(block)} + size + room_ < top;
}

json_text::json_text() noexcept : alc_{alc_malloc, alc_realloc, alc_free, this} {}

json_text::~json_text() {
    std::free(batch_);
    std::free(buf_);
}

bool json_text::reserve(size_t size) noexcept {
    if (size <= cap_) return true;
    // Half again keeps the copies linear and the slack at most a third of the block.
    size_t cap = cap_ + cap_ / 2;
    if (cap < size) cap = size;
    if (cap < 256) cap = 256;
    char *p = static_cast<char *>(std::realloc(buf_, cap));
    if (p == nullptr) return false;
    buf_ = p;
    cap_ = cap;
    return true;
}

void *json_text::alc_malloc(void *ctx, size_t size) noexcept {
    json_text *t = static_cast<json_text *>(ctx);
    // One byte of room for the comma that goes before the piece once it is moved; a piece
    // that is the whole text is written in place.
    const size_t at = t->len_ == 0 ? 0 : (t->len_ + 1 + piece_align - 1) & ~(piece_align - 1);
    if (size > SIZE_MAX - at || !t->reserve(at + size) || !t->below_wrap(t->buf_ + at, size))
        return nullptr;
    t->piece_ = at;
    return t->buf_ + at;
}

void *json_text::alc_realloc(void *ctx, void *, size_t old_size, size_t size) noexcept {
    json_text *t = static_cast<json_text *>(ctx);
    // The writer grows by the larger of half its block and what it asks for, rounded up to
    // a word. A step beyond both half the block and any other string's ask was taken for
    // the longest string, which the new block holds: what comes after it asks less.
    const size_t step = size - old_size, slack = sizeof(size_t);
    if (step > old_size / 2 + slack && step > t->room_rest_ + slack) t->room_ = t->room_rest_;
    if (size > SIZE_MAX - t->piece_ || !t->reserve(t->piece_ + size) ||
        !t->below_wrap(t->buf_ + t->piece_, size))
        return nullptr;
    return t->buf_ + t->piece_;
}

// The block is part of the buffer, released with it.
void json_text::alc_free(void *, void *) noexcept {}

bool json_text::put(const char *s, size_t n) noexcept {
    if (!reserve(len_ + n)) return false;
    std::memcpy(buf_ + len_, s, n);
    len_ += n;
    return true;
}

bool json_text::open(char c) noexcept {
    first_ = true;
    return put(&c, 1);
}

bool json_text::write(yyjson_val *v, bool strip_brackets) noexcept {
    size_t n = 0;
    if constexpr (narrow_addresses) measure(v);
    const char *piece = yyjson_val_write_opts(v, YYJSON_WRITE_NOFLAG, &alc_, &n, nullptr);
    if (piece == nullptr) return false;
    if (strip_brackets) {
        if (n <= 2) return true; // an empty array adds nothing
        ++piece;
        n -= 2;
    }
    if (!first_) buf_[len_++] = ',';
    if (piece != buf_ + len_) shift_down(buf_ + len_, piece, n);
    len_ += n;
    first_ = false;
    return true;
}

bool json_text::value(yyjson_val *v) noexcept {
    return write(v, false);
}

bool json_text::element(yyjson_val *v) noexcept {
    const size_t vals = static_cast<size_t>(unsafe_yyjson_get_next(v) - v);
    if (batch_vals_ + vals > batch_capacity && !flush()) return false;
    if (1 + vals > batch_capacity) return write(v, false); // too large to batch
    if (batch_ == nullptr) {
        batch_ = static_cast<yyjson_val *>(std::malloc(batch_capacity * sizeof(yyjson_val)));
        if (batch_ == nullptr) return false;
    }
    if (batch_vals_ == 0) batch_vals_ = 1;
    std::memcpy(batch_ + batch_vals_, v, vals * sizeof(yyjson_val));
    batch_vals_ += vals;
    ++batch_count_;
    return true;
}

bool json_text::flush() noexcept {
    if (batch_count_ == 0) return true;
    batch_->tag = (static_cast<uint64_t>(batch_count_) << YYJSON_TAG_BIT) | YYJSON_TYPE_ARR;
    batch_->uni.ofs = batch_vals_ * sizeof(yyjson_val);
    batch_vals_ = batch_count_ = 0;
    return write(batch_, true);
}

bool json_text::items_of(yyjson_val *arr) noexcept {
    return write(arr, true);
}

char *json_text::release() noexcept {
    if (!reserve(len_ + 1)) return nullptr;
    buf_[len_] = '\0';
    // Large slack goes back to the heap; a refused shrink keeps the larger block, so it
    // cannot fail the call.
    char *text = buf_;
    if (cap_ - len_ > 4096) {
        char *p = static_cast<char *>(std::realloc(buf_, len_ + 1));
        if (p != nullptr) text = p;
    }
    buf_ = nullptr;
    cap_ = len_ = 0;
    return text;
}

} // namespace ntsrch
