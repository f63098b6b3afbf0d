/* SPDX-License-Identifier: MIT */
// Compact JSON text written by yyjson straight from read-only values into one buffer.
#ifndef NTSRCH_JSON_TEXT_H
#define NTSRCH_JSON_TEXT_H

#include <cstddef>
#include <cstdint>

#include <yyjson.h>

namespace ntsrch {

// A result under construction. The writer is handed this buffer's free tail through a
// custom allocator, so values are written where they belong without a mutable copy or a
// second text. Every append returns false when memory runs out; the text is then to be
// dropped.
class json_text {
  public:
    json_text() noexcept;
    json_text(const json_text &) = delete;
    json_text &operator=(const json_text &) = delete;
    ~json_text();

    bool put(const char *s, size_t n) noexcept;
    // Starts a list with its opening byte; elements are separated by commas.
    bool open(char c) noexcept;
    bool close(char c) noexcept { return flush() && put(&c, 1); }
    // One list element, or the whole text when nothing was appended yet.
    bool value(yyjson_val *v) noexcept;
    // One list element, written together with its neighbours: many small values cost
    // about what one array of them costs. The batch goes out by close() or flush().
    bool element(yyjson_val *v) noexcept;
    bool flush() noexcept;
    // Room for about this many more bytes, so that a large result grows in one step.
    bool expect(size_t bytes) noexcept { return bytes <= SIZE_MAX - len_ && reserve(len_ + bytes); }
    // Every element of the array arr as elements of the open list.
    bool items_of(yyjson_val *arr) noexcept;
    // The NUL-terminated text, trimmed to its size; ownership passes to the caller.
    char *release() noexcept;

  private:
    static void *alc_malloc(void *ctx, size_t size) noexcept;
    static void *alc_realloc(void *ctx, void *ptr, size_t old_size, size_t size) noexcept;
    static void alc_free(void *ctx, void *ptr) noexcept;
    bool reserve(size_t size) noexcept;
    void measure(yyjson_val *v) noexcept;
    bool below_wrap(const char *block, size_t size) const noexcept;
    bool write(yyjson_val *v, bool strip_brackets) noexcept;

    char *buf_ = nullptr;
    size_t cap_ = 0, len_ = 0;
    size_t piece_ = 0; // where the writer's current output starts
    // 32-bit addresses: how far past its position the writer may reach, and once the
    // longest string is placed.
    size_t room_ = 0, room_rest_ = 0;
    bool first_ = true; // no element yet in the open list
    yyjson_alc alc_;
    // Pending elements: an array header followed by copies of their value subtrees, whose
    // strings still point into the input document.
    yyjson_val *batch_ = nullptr;
    size_t batch_vals_ = 0, batch_count_ = 0;
};

} // namespace ntsrch

#endif
