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

// Filter text prepared once per call as an automaton over its folded bytes, so the search
// reads each text byte once whatever the needle.
class ci_needle {
  public:
    ci_needle() = default;
    ci_needle(const ci_needle &) = delete;
    ci_needle &operator=(const ci_needle &) = delete;
    ~ci_needle();

    // needle: at most NTSRCH_QUERY_CAPACITY - 1 bytes, NUL-terminated. False when memory
    // runs out.
    bool init(const char *needle) noexcept;
    bool empty() const noexcept { return len_ == 0; }

    // 1 when the needle occurs in text ignoring ASCII case; an empty needle is always
    // found. Time linear in the text.
    friend int ci_contains(const char *text, const ci_needle &needle) noexcept;
    friend int ci_contains_rest(const unsigned char *t, size_t at,
                                const ci_needle &needle) noexcept;

  private:
    size_t len_ = 0;
    unsigned char first_ = 0,
                  case_bit_ = 0;       // a byte b may start a match: (b | case_bit_) == first_
    unsigned char class_of_[256] = {}; // 0: a byte the needle does not hold
    // The state after one more byte, for each state (bytes matched so far) and byte
    // class, stored as the row offset state * classes so a step needs no multiplication.
    uint16_t *next_ = nullptr;
    uint16_t match_ = 0; // row offset of the state "all bytes matched"
};

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
