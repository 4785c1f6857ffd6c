// The tests run under umockdev's preload, which must be in place when the process starts:
// without it the program starts itself again with it.

#include "usbfs_testbed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (!pulsara::test::InMockEnvironment()) {
        std::string preload = "libumockdev-preload.so.0";
        if (const char* old = std::getenv("LD_PRELOAD"); old && *old) {
            preload = std::string(old) + ":" + preload;
        }
        ::setenv("LD_PRELOAD", preload.c_str(), 1);
        // A sanitizer runtime then no longer comes first, which is fine here.
        std::string asan = "verify_asan_link_order=0";
        if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old) {
            asan = std::string(old) + ":" + asan;
        }
        ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
        ::execv("/proc/self/exe", argv);
        std::perror("cannot start again under libumockdev-preload");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
