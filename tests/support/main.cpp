// Entry point of every test executable: the toolkit starts once, on the offscreen platform
// unless the environment names another, and lives for all the tests.
#include "platform/application.h"

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    platform::InitializeApplication(argc, argv);
    return RUN_ALL_TESTS();
}
