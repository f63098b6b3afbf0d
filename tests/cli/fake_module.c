/* SPDX-License-Identifier: MIT */
/* A stand-in module for the host tool's tests: it exports the eight functions, reports the
 * ABI version named by NTSRCH_FAKE_ABI (default: the header's), runs out of memory on every
 * producing call and fails its self-test. It also serves as a library that is not yyjson. */
#include "ntsrch.h"

#include <stdlib.h>

const char *ntsrch_version(void) {
    return "0.0.0-fake";
}

int ntsrch_abi_version(void) {
    const char *abi = getenv("NTSRCH_FAKE_ABI");
    return abi != NULL ? atoi(abi) : NTSRCH_ABI_VERSION;
}

const char *ntsrch_last_error(void) {
    return "";
}

void ntsrch_free(void *p) {
    free(p);
}

char *ntsrch_build_search_url(const char *base_url, const char *query) {
    (void)base_url;
    (void)query;
    return NULL;
}

char *ntsrch_filter_and_sort_tracks_json(const char *tracks_json, const char *query,
                                         int downloaded_only, const char *downloaded_json,
                                         int sort_mode) {
    (void)tracks_json;
    (void)query;
    (void)downloaded_only;
    (void)downloaded_json;
    (void)sort_mode;
    return NULL;
}

char *ntsrch_normalize_unified_results_json(const char *json, size_t len) {
    (void)json;
    (void)len;
    return NULL;
}

int ntsrch_selftest(void) {
    return 2;
}
