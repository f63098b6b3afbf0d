/* SPDX-License-Identifier: MIT */
/* A host built the way an MSVC project builds one: compiled for x86_64-pc-windows-msvc,
 * with no C runtime, and linked by lld-link (standing in for link.exe) against the import
 * library alone. Its exit status is 0, or the number of the first check that failed. */
#include "ntsrch.h"

static int same(const char *a, const char *b) {
    if (a == NULL) return 0;
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

/* Takes an owned result: 1 when it is the expected text. */
static int take(char *got, const char *want) {
    int ok = same(got, want) && same(ntsrch_last_error(), "");
    ntsrch_free(got);
    return ok;
}

int ntsrch_msvc_host(void) {
    if (ntsrch_abi_version() != NTSRCH_ABI_VERSION) return 1;
    if (!same(ntsrch_version(), NTSRCH_VERSION_STRING)) return 2;
    if (ntsrch_selftest() != 0) return 3;
    if (!take(ntsrch_build_search_url("https://music.example/", "a b"),
              "https://music.example/search/api?q=a%20b&format=json"))
        return 4;
    if (!take(ntsrch_filter_and_sort_tracks_json("[{\"title\":\"Zeta\"},{\"title\":\"Alpha\"}]",
                                                 "a", 0, NULL, NTSRCH_SORT_TITLE_ASC),
              "[{\"title\":\"Alpha\"},{\"title\":\"Zeta\"}]"))
        return 5;
    if (!take(ntsrch_normalize_unified_results_json("{\"tracks\":[1]}", 0),
              "{\"localCount\":1,\"catalogueCount\":0,\"local\":[1],\"catalogue\":[]}"))
        return 6;
    if (ntsrch_build_search_url(NULL, "   ") != NULL) return 7;
    if (!same(ntsrch_last_error(), "empty query")) return 8;
    return 0;
}
