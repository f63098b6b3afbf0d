/* SPDX-License-Identifier: MIT */
/*
 * ntsrch: native search client of the music application.
 *
 * One shared module, loaded by name, used through eight plain C functions.
 *
 * Ownership: the three producing functions (ntsrch_build_search_url,
 * ntsrch_filter_and_sort_tracks_json, ntsrch_normalize_unified_results_json) return a
 * new NUL-terminated UTF-8 string that the caller owns and releases exactly once with
 * ntsrch_free (never with the host's own free). They return NULL on failure.
 *
 * Errors: a failure caused by the caller's input leaves a short message in the calling
 * thread's last-error text (ntsrch_last_error); a failure for lack of memory leaves it
 * empty. One exception: the JSON reader reports its own lack of memory as unreadable
 * input, so "tracks_json must be array" or "invalid search json" may also mean that
 * memory ran out while the input was read. An empty text always means out of memory.
 * Every successful producing call empties it.
 *
 * Threads: every function may be called from any number of threads at once. The
 * last-error text is per thread: read it on the thread that made the call.
 */
#ifndef NTSRCH_H
#define NTSRCH_H

#include <stddef.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(NTSRCH_BUILDING)
#define NTSRCH_API __declspec(dllexport)
#else
#define NTSRCH_API __declspec(dllimport)
#endif
#define NTSRCH_CALL __cdecl
#else
#if defined(NTSRCH_BUILDING) && defined(__GNUC__)
#define NTSRCH_API __attribute__((visibility("default")))
#else
#define NTSRCH_API
#endif
#define NTSRCH_CALL
#endif

/* Version of this header. A host compares them with ntsrch_version() and
 * ntsrch_abi_version() at load time to catch a module that is not the one it was built
 * against; the ABI version changes only when a declaration below changes incompatibly. */
#define NTSRCH_VERSION_MAJOR 1
#define NTSRCH_VERSION_MINOR 0
#define NTSRCH_VERSION_PATCH 0
#define NTSRCH_VERSION_STRING "1.0.0"
#define NTSRCH_ABI_VERSION 1

/* Sort modes of ntsrch_filter_and_sort_tracks_json. Any other value keeps input order. */
#define NTSRCH_SORT_NONE 0
#define NTSRCH_SORT_TITLE_ASC 1
#define NTSRCH_SORT_ARTIST_ASC 2
#define NTSRCH_SORT_NEWEST_FIRST 3
#define NTSRCH_SORT_SHORTEST_FIRST 4
#define NTSRCH_SORT_DOWNLOADED_FIRST 5

#ifdef __cplusplus
extern "C" {
#endif

/* Library version text "1.0.0". Owned by the library: never free it. */
NTSRCH_API const char *NTSRCH_CALL ntsrch_version(void);

/* ABI version: 1. */
NTSRCH_API int NTSRCH_CALL ntsrch_abi_version(void);

/* The calling thread's last-error text; never NULL, "" when there is none. Owned by the
 * library; valid until the thread ends, overwritten by the thread's next producing call. */
NTSRCH_API const char *NTSRCH_CALL ntsrch_last_error(void);

/* Releases a string returned by a producing function. NULL is accepted. */
NTSRCH_API void NTSRCH_CALL ntsrch_free(void *p);

/* base_url + "/search/api?q=" + percent-encoded query + "&format=json".
 * base_url may be NULL or "" (the built-in default base); its trailing slashes are
 * dropped. Leading whitespace of query is skipped, the rest is encoded byte by byte
 * (unreserved bytes A-Z a-z 0-9 - . _ ~ kept, every other byte as %XX, upper-case hex).
 * Errors: "null query", "empty query". Returns a new string: release with ntsrch_free. */
NTSRCH_API char *NTSRCH_CALL ntsrch_build_search_url(const char *base_url, const char *query);

/* Filters the JSON array tracks_json: keeps the objects whose "title" or "artist"
 * contains query (ASCII case ignored, surrounding whitespace trimmed; NULL or blank means
 * no text filter) and, when downloaded_only is non-zero, whose "streamURL" is among the
 * strings of the JSON array downloaded_json (may be NULL). Returns the kept objects as a
 * compact JSON array ordered by sort_mode (NTSRCH_SORT_*).
 * The downloaded lookup compares each track's stream URL with the list's strings one by
 * one: with downloaded_only or NTSRCH_SORT_DOWNLOADED_FIRST its cost grows with
 * tracks x downloaded URLs. "duration" and "publishTimestamp" are read as 64-bit floats:
 * integer timestamps lose precision above 2^53, and from 2^63 - 512 up become -2^63.
 * Errors: "null tracks_json", "tracks_json must be array". Release with ntsrch_free. */
NTSRCH_API char *NTSRCH_CALL ntsrch_filter_and_sort_tracks_json(const char *tracks_json,
                                                                const char *query,
                                                                int downloaded_only,
                                                                const char *downloaded_json,
                                                                int sort_mode);

/* Reshapes a unified search result object into
 * {"localCount":N,"catalogueCount":M,"local":[...],"catalogue":[...]}: "local" copies
 * root "tracks", "catalogue" copies catalogue "albums" then catalogue "artists".
 * len is the byte length of json, or 0 when json is NUL-terminated.
 * Errors: "null json", "invalid search json". Release with ntsrch_free. */
NTSRCH_API char *NTSRCH_CALL ntsrch_normalize_unified_results_json(const char *json, size_t len);

/* Runs the built-in checks: 0 when all pass, 1 when search URL building fails, 2 when
 * title ordering fails. */
NTSRCH_API int NTSRCH_CALL ntsrch_selftest(void);

#ifdef __cplusplus
}
#endif

#endif /* NTSRCH_H */
