/* SPDX-License-Identifier: MIT */
// Text matching of the track filter and the orders its result can be sorted in.
#ifndef NTSRCH_TRACKS_H
#define NTSRCH_TRACKS_H

#include "internal.h"

#include <cstddef>
#include <cstdint>

#include <yyjson.h>

namespace ntsrch {

class json_text;

// Sign gives the order; A-Z fold to a-z, every other byte compares as its unsigned value.
int ci_strcmp(const char *a, const char *b) noexcept;

// Filter text prepared once per call for a search that never steps back in the text.
struct ci_needle {
    unsigned char text[NTSRCH_QUERY_CAPACITY]; // folded
    // border[j]: length of the longest proper prefix of text[0..j] that also ends it
    unsigned char border[NTSRCH_QUERY_CAPACITY];
    size_t len;
};

// needle: at most NTSRCH_QUERY_CAPACITY - 1 bytes, NUL-terminated.
void ci_needle_init(ci_needle &n, const char *needle) noexcept;

// 1 when the needle occurs in text ignoring ASCII case; an empty needle is always found.
// Time linear in the text whatever the needle.
int ci_contains(const char *text, const ci_needle &needle) noexcept;

// What the filter read from one kept track. Texts are borrowed from the parsed input and
// are used only up to their first NUL, even when the JSON string goes on after an escaped
// one.
struct kept_track {
    yyjson_val *source;
    const char *title;  // "" when missing or not a string
    const char *artist; // "" when missing or not a string
    double duration;
    int64_t published;
    bool downloaded;
};

// The kept tracks of one call in the order of a sort mode (any value outside 1..5 keeps
// input order). Each is held in a record no larger than that order needs; ties always go
// to input order.
class track_order {
  public:
    explicit track_order(int sort_mode) noexcept;
    track_order(const track_order &) = delete;
    track_order &operator=(const track_order &) = delete;
    ~track_order();

    // Tracks must come in input order. False when memory runs out.
    bool add(const kept_track &t) noexcept;
    // Sorts, then appends the kept elements of the array root, parsed from text_len bytes,
    // as a JSON array to out.
    bool write(yyjson_val *root, size_t text_len, json_text &out) noexcept;

  private:
    void *grow() noexcept;
    template <class Slot, class Visit> bool visit(Visit &&f) noexcept;

    unsigned mode_;
    size_t slot_size_;
    unsigned char *slots_ = nullptr;
    size_t count_ = 0, cap_ = 0;
};

} // namespace ntsrch

#endif
