// SPDX-License-Identifier: MIT
#include "ntsrch.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>
#include <thread>

namespace {

TEST(Frame, VersionInformation) {
    EXPECT_STREQ(ntsrch_version(), "1.0.0");
    EXPECT_EQ(ntsrch_version(), ntsrch_version());
    EXPECT_EQ(ntsrch_abi_version(), 1);
}

TEST(Frame, FreeAcceptsNull) {
    ntsrch_free(nullptr);
}

TEST(Frame, QueriesLeaveLastErrorAlone) {
    ASSERT_EQ(ntsrch_build_search_url(nullptr, nullptr), nullptr);
    ntsrch_version();
    ntsrch_abi_version();
    ntsrch_free(nullptr);
    EXPECT_STREQ(ntsrch_last_error(), "null query");
    EXPECT_EQ(ntsrch_last_error(), ntsrch_last_error());
}

TEST(Frame, LastErrorIsPerThread) {
    std::string fresh = "unset", first, second;
    std::thread([&] { fresh = ntsrch_last_error(); }).join();
    std::thread a([&] {
        ntsrch_build_search_url(nullptr, nullptr);
        for (int i = 0; i < 1000; ++i)
            std::this_thread::yield();
        first = ntsrch_last_error();
    });
    std::thread b([&] {
        ntsrch_build_search_url(nullptr, "   ");
        for (int i = 0; i < 1000; ++i)
            std::this_thread::yield();
        second = ntsrch_last_error();
    });
    a.join();
    b.join();
    EXPECT_EQ(fresh, "");
    EXPECT_EQ(first, "null query");
    EXPECT_EQ(second, "empty query");
}

#if defined(_WIN32)
constexpr const char *module_suffix = ".dll";
#elif defined(__APPLE__)
constexpr const char *module_suffix = ".dylib";
#else
constexpr const char *module_suffix = ".so";
#endif

#ifdef _WIN32
TEST(Frame, ModuleLoadsByFileName) {
    EXPECT_EQ(std::string(NTSRCH_MODULE_FILE),
              std::string("nortavel-nortaveltune-search-client") + module_suffix);
    HMODULE h = LoadLibraryA(NTSRCH_MODULE_PATH);
    ASSERT_NE(h, nullptr) << GetLastError();
    for (const char *name : {"ntsrch_version", "ntsrch_abi_version", "ntsrch_last_error",
                             "ntsrch_free", "ntsrch_build_search_url"}) {
        EXPECT_NE(GetProcAddress(h, name), nullptr) << name;
    }
    // Internal helpers stay internal.
    for (const char *name : {"yyjson_read_opts", "g_last_err", "_ZN6ntsrch9set_errorEPKc"})
        EXPECT_EQ(GetProcAddress(h, name), nullptr) << name;
    auto version = reinterpret_cast<const char *(*)()>(
        reinterpret_cast<void *>(GetProcAddress(h, "ntsrch_version")));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version(), "1.0.0");
    FreeLibrary(h);
}
#else
TEST(Frame, ModuleLoadsByFileName) {
    EXPECT_EQ(std::string(NTSRCH_MODULE_FILE),
              std::string("nortavel-nortaveltune-search-client") + module_suffix);
    void *h = dlopen(NTSRCH_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    for (const char *name : {"ntsrch_version", "ntsrch_abi_version", "ntsrch_last_error",
                             "ntsrch_free", "ntsrch_build_search_url"}) {
        EXPECT_NE(dlsym(h, name), nullptr) << name;
    }
    // Internal helpers stay internal.
    for (const char *name : {"yyjson_read_opts", "g_last_err", "_ZN6ntsrch9set_errorEPKc"}) {
        void *own = dlsym(h, name);
        Dl_info info{};
        bool from_module =
            own != nullptr && dladdr(own, &info) != 0 && info.dli_fname != nullptr &&
            std::string(info.dli_fname).find(NTSRCH_MODULE_FILE) != std::string::npos;
        EXPECT_FALSE(from_module) << name;
    }
    auto version = reinterpret_cast<const char *(*)()>(dlsym(h, "ntsrch_version"));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version(), "1.0.0");
    dlclose(h);
}
#endif

} // namespace
