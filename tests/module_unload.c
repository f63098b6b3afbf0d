/* SPDX-License-Identifier: MIT */
/* A host that loads the module, uses it from threads and unloads it, many times over: the
 * module must really go away on unload and come back with a clean per-thread text, both for
 * a thread started after the load and for one that was already running before it (whose
 * buffer the loader must reserve at load time). */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "loader.h"

#ifdef _WIN32
typedef HANDLE thread_t;
#define THREAD_FN DWORD WINAPI
#define THREAD_RETURN 0
static int lib_still_loaded(const char *path) {
    return GetModuleHandleA(path) != NULL;
}
static int thread_start(thread_t *t, LPTHREAD_START_ROUTINE fn, void *arg) {
    *t = CreateThread(NULL, 0, fn, arg, 0, NULL);
    return *t != NULL ? 0 : -1;
}
static int thread_join(thread_t t) {
    const int ok = WaitForSingleObject(t, INFINITE) == WAIT_OBJECT_0;
    CloseHandle(t);
    return ok ? 0 : -1;
}
static void yield_now(void) {
    Sleep(0);
}
#else
#include <pthread.h>
#include <sched.h>
typedef pthread_t thread_t;
#define THREAD_FN void *
#define THREAD_RETURN NULL
static int lib_still_loaded(const char *path) {
    void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (h != NULL) dlclose(h); /* drops the reference NOLOAD took */
    return h != NULL;
}
static int thread_start(thread_t *t, void *(*fn)(void *), void *arg) {
    return pthread_create(t, NULL, fn, arg);
}
static int thread_join(thread_t t) {
    return pthread_join(t, NULL);
}
static void yield_now(void) {
    sched_yield();
}
#endif

typedef const char *(*fn_text)(void);
typedef char *(*fn_url)(const char *, const char *);
typedef void (*fn_free)(void *);

struct api {
    fn_text last_error;
    fn_url url;
    fn_free release;
    atomic_int ready; /* the functions above are set */
    int bad;
};

static void load(loader_lib h, const char *name, void *slot) {
    if (!loader_sym(h, name, slot)) {
        fprintf(stderr, "missing %s\n", name);
        exit(1);
    }
}

static THREAD_FN worker(void *arg) {
    struct api *a = arg;
    while (!atomic_load(&a->ready))
        yield_now();
    if (strcmp(a->last_error(), "") != 0) a->bad |= 1; /* fresh thread: empty text */
    if (a->url(NULL, NULL) != NULL || strcmp(a->last_error(), "null query") != 0) a->bad |= 2;
    char *u = a->url(NULL, "x y");
    if (u == NULL || strstr(u, "?q=x%20y&") == NULL || a->last_error()[0] != '\0') a->bad |= 4;
    a->release(u);
    return THREAD_RETURN;
}

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    const int rounds = 300;
    for (int i = 0; i < rounds; ++i) {
        struct api early, late;
        memset(&early, 0, sizeof early);
        memset(&late, 0, sizeof late);
        thread_t before;
        if (thread_start(&before, worker, &early) != 0) return 1;
        char why[1024];
        loader_lib h = loader_open(argv[1], why, sizeof why);
        if (h == NULL) {
            fprintf(stderr, "round %d: load: %s\n", i, why);
            return 1;
        }
        if (!lib_still_loaded(argv[1])) {
            fprintf(stderr, "round %d: the loaded module is not seen as loaded\n", i);
            return 1;
        }
        struct api *both[] = {&early, &late};
        for (int k = 0; k < 2; ++k) {
            struct api *a = both[k];
            load(h, "ntsrch_last_error", &a->last_error);
            load(h, "ntsrch_build_search_url", &a->url);
            load(h, "ntsrch_free", &a->release);
            atomic_store(&a->ready, 1);
        }
        thread_t after;
        if (thread_join(before) != 0 || thread_start(&after, worker, &late) != 0 ||
            thread_join(after) != 0)
            return 1;
        if (early.bad || late.bad) {
            fprintf(stderr, "round %d: thread checks failed (running before load: %d, after: %d)\n",
                    i, early.bad, late.bad);
            return 1;
        }
        if (loader_close(h) != 0) {
            fprintf(stderr, "round %d: unload failed\n", i);
            return 1;
        }
        if (lib_still_loaded(argv[1])) {
            fprintf(stderr, "round %d: still loaded after unload\n", i);
            return 1;
        }
    }
    printf("loaded, used from threads and unloaded %d times\n", rounds);
    return 0;
}
