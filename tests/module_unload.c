/* SPDX-License-Identifier: MIT */
/* A host that loads the module, uses it from new threads and unloads it, many times over:
 * the module must really go away on dlclose and come back with a clean per-thread text. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef const char *(*fn_text)(void);
typedef char *(*fn_url)(const char *, const char *);
typedef void (*fn_free)(void *);

struct api {
    fn_text last_error;
    fn_url url;
    fn_free release;
    int bad;
};

/* dlsym gives an object pointer; ISO C has no cast from it to a function pointer. */
static void load(void *h, const char *name, void *slot, size_t size) {
    void *p = dlsym(h, name);
    if (p == NULL) {
        fprintf(stderr, "missing %s\n", name);
        exit(1);
    }
    memcpy(slot, &p, size);
}

static void *worker(void *arg) {
    struct api *a = arg;
    if (strcmp(a->last_error(), "") != 0) a->bad |= 1; /* fresh thread: empty text */
    if (a->url(NULL, NULL) != NULL || strcmp(a->last_error(), "null query") != 0) a->bad |= 2;
    char *u = a->url(NULL, "x y");
    if (u == NULL || strstr(u, "?q=x%20y&") == NULL || a->last_error()[0] != '\0') a->bad |= 4;
    a->release(u);
    return NULL;
}

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    const int rounds = 300;
    for (int i = 0; i < rounds; ++i) {
        void *h = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
        if (h == NULL) {
            fprintf(stderr, "round %d: dlopen: %s\n", i, dlerror());
            return 1;
        }
        struct api a;
        load(h, "ntsrch_last_error", &a.last_error, sizeof a.last_error);
        load(h, "ntsrch_build_search_url", &a.url, sizeof a.url);
        load(h, "ntsrch_free", &a.release, sizeof a.release);
        a.bad = 0;
        pthread_t t;
        if (pthread_create(&t, NULL, worker, &a) != 0 || pthread_join(t, NULL) != 0) return 1;
        if (a.bad) {
            fprintf(stderr, "round %d: thread checks failed (%d)\n", i, a.bad);
            return 1;
        }
        if (dlclose(h) != 0) {
            fprintf(stderr, "round %d: dlclose: %s\n", i, dlerror());
            return 1;
        }
        if (dlopen(argv[1], RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD) != NULL) {
            fprintf(stderr, "round %d: still loaded after dlclose\n", i);
            return 1;
        }
    }
    printf("loaded, used and unloaded %d times\n", rounds);
    return 0;
}
