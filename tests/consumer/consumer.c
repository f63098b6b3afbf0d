/* SPDX-License-Identifier: MIT */
/* A host built against an installed module: checks at start-up that the module it loaded
 * is the one its header describes, then uses it. */
#include <ntsrch.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    char *url;
    int ok;
    if (ntsrch_abi_version() != NTSRCH_ABI_VERSION ||
        strcmp(ntsrch_version(), NTSRCH_VERSION_STRING) != 0) {
        fprintf(stderr, "module %s (ABI %d) does not match header %s (ABI %d)\n", ntsrch_version(),
                ntsrch_abi_version(), NTSRCH_VERSION_STRING, NTSRCH_ABI_VERSION);
        return 1;
    }
    url = ntsrch_build_search_url("https://music.example/", "night skies");
    if (url == NULL) {
        fprintf(stderr, "ntsrch_build_search_url: %s\n", ntsrch_last_error());
        return 1;
    }
    ok = strcmp(url, "https://music.example/search/api?q=night%20skies&format=json") == 0;
    printf("%s\n", url);
    ntsrch_free(url);
#ifdef CONSUMER_MODULE
    printf("module: %s\n", CONSUMER_MODULE);
#endif
    return ok ? 0 : 1;
}
