/* SPDX-License-Identifier: MIT */
// Working records of the track filter and the orders they can be sorted in.
#ifndef NTSRCH_TRACKS_H
#define NTSRCH_TRACKS_H

#include <cstddef>
#include <cstdint>

#include <yyjson.h>

namespace ntsrch {

// One kept track. Texts are borrowed from the parsed input document and are used only up
// to their first NUL, even when the JSON string goes on after an escaped one.
struct track_entry {
    yyjson_val *source;
    const char *title;  // "" when missing or not a string
    const char *artist; // "" when missing or not a string
    double duration;
    int64_t published;
    int32_t downloaded;
    size_t index; // position in the input array, dropped elements counted
};

// Sign gives the order; A-Z fold to a-z, every other byte compares as its unsigned value.
int ci_strcmp(const char *a, const char *b) noexcept;

// 1 when needle occurs in text ignoring ASCII case; an empty needle is always found.
int ci_contains(const char *text, const char *needle) noexcept;

// Negative when the left record goes first; never 0 for two different records.
int cmp_title_asc(const track_entry *l, const track_entry *r) noexcept;
int cmp_artist_asc(const track_entry *l, const track_entry *r) noexcept;
int cmp_newest_first(const track_entry *l, const track_entry *r) noexcept;
int cmp_shortest_first(const track_entry *l, const track_entry *r) noexcept;
int cmp_downloaded_first(const track_entry *l, const track_entry *r) noexcept;

// Bytes of scratch order_tracks needs for n entries.
size_t order_scratch_size(size_t n) noexcept;

// The source elements of the n entries in the order of sort_mode (any value outside 1..5
// keeps input order), stored in scratch, which holds order_scratch_size(n) bytes aligned
// for pointers. May reorder entries.
yyjson_val **order_tracks(track_entry *entries, size_t n, int sort_mode, void *scratch) noexcept;

} // namespace ntsrch

#endif
