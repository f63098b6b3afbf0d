// SPDX-License-Identifier: MIT
#include "ntsrch.h"

#include <gtest/gtest.h>

#include "loader.h"

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

// Whether name resolves to a function of the module itself: from a module loaded with
// its dependencies, dlsym also finds their symbols (yyjson's, in a Linux build).
bool exported_by_module(loader_lib h, const char *name) {
    void *own = nullptr;
    if (!loader_sym(h, name, &own)) return false;
#ifdef _WIN32
    return true;
#else
    Dl_info info{};
    return dladdr(own, &info) != 0 && info.dli_fname != nullptr &&
           std::string(info.dli_fname).find(NTSRCH_MODULE_FILE) != std::string::npos;
#endif
}

TEST(Frame, ModuleLoadsByFileName) {
    EXPECT_EQ(std::string(NTSRCH_MODULE_FILE),
              std::string("nortavel-nortaveltune-search-client") + module_suffix);
    char why[1024] = "";
    loader_lib h = loader_open(NTSRCH_MODULE_PATH, why, sizeof why);
    ASSERT_NE(h, nullptr) << why;
    for (const char *name : {"ntsrch_version", "ntsrch_abi_version", "ntsrch_last_error",
                             "ntsrch_free", "ntsrch_build_search_url"}) {
        EXPECT_TRUE(exported_by_module(h, name)) << name;
    }
    // Internal helpers stay internal.
    for (const char *name : {"yyjson_read_opts", "g_last_err", "_ZN6ntsrch9set_errorEPKc"})
        EXPECT_FALSE(exported_by_module(h, name)) << name;
    const char *(*version)() = nullptr;
    ASSERT_TRUE(loader_sym(h, "ntsrch_version", &version));
    EXPECT_STREQ(version(), "1.0.0");
    loader_close(h);
}

} // namespace
