/* SPDX-License-Identifier: MIT */
/* A plain C99 host that links the module and calls all eight functions through the public
 * header, built with -std=c99 -pedantic -Werror. */
#include "ntsrch.h"

#include <stdio.h>
#include <string.h>

static int failures, checks;

static void check(int ok, const char *what) {
    ++checks;
    if (!ok) {
        ++failures;
        fprintf(stderr, "FAILED: %s\n", what);
    }
}

/* Checks an owned result against the expected text (NULL: expects failure with msg). */
static void check_result(char *got, const char *want, const char *msg, const char *what) {
    if (want != NULL) {
        check(got != NULL && strcmp(got, want) == 0, what);
        check(strcmp(ntsrch_last_error(), "") == 0, what);
    } else {
        check(got == NULL, what);
        check(strcmp(ntsrch_last_error(), msg) == 0, what);
    }
    if (got != NULL) printf("%s -> %s\n", what, got);
    ntsrch_free(got);
}

int main(void) {
    static const char unified[] = "{\"tracks\":[1,\"x\"],\"catalogue\":{\"artists\":[\"b\"],"
                                  "\"albums\":[\"a\"]}}TRAILING";
    const char *tracks = "[{\"title\":\"b\",\"artist\":\"Y\"},3,{\"title\":\"A\"}]";
    const char *v = ntsrch_version();

    check(strcmp(v, NTSRCH_VERSION_STRING) == 0, "ntsrch_version matches the header");
    check(v == ntsrch_version(), "ntsrch_version is one constant");
    check(ntsrch_abi_version() == NTSRCH_ABI_VERSION, "ntsrch_abi_version matches the header");
    ntsrch_free(NULL);

    check_result(ntsrch_build_search_url(NULL, NULL), NULL, "null query", "url: null query");
    check_result(ntsrch_build_search_url("https://h.example///", " a b"),
                 "https://h.example/search/api?q=a%20b&format=json", NULL, "url");

    check_result(ntsrch_filter_and_sort_tracks_json(NULL, NULL, 0, NULL, NTSRCH_SORT_NONE), NULL,
                 "null tracks_json", "filter: null tracks");
    check_result(ntsrch_filter_and_sort_tracks_json(tracks, NULL, 0, NULL, NTSRCH_SORT_TITLE_ASC),
                 "[{\"title\":\"A\"},{\"title\":\"b\",\"artist\":\"Y\"}]", NULL,
                 "filter: title order");
    check_result(ntsrch_filter_and_sort_tracks_json(tracks, " y ", 0, "[]", NTSRCH_SORT_NONE),
                 "[{\"title\":\"b\",\"artist\":\"Y\"}]", NULL, "filter: by artist");

    check_result(ntsrch_normalize_unified_results_json(NULL, 0), NULL, "null json",
                 "normalize: null json");
    check_result(ntsrch_normalize_unified_results_json(unified, 0), NULL, "invalid search json",
                 "normalize: trailing text");
    /* len ends the text before the trailing bytes; there is no NUL there. */
    check_result(ntsrch_normalize_unified_results_json(unified, sizeof unified - 9),
                 "{\"localCount\":2,\"catalogueCount\":2,\"local\":[1,\"x\"],"
                 "\"catalogue\":[\"a\",\"b\"]}",
                 NULL, "normalize: explicit length");

    check(ntsrch_selftest() == 0, "selftest passes");
    check(strcmp(ntsrch_last_error(), "") == 0, "selftest leaves no message");

    printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
