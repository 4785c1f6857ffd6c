// The tests run under umockdev's preload.

#include "usbfs_testbed.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    pulsara::test::StartUnderUmockdev(argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
