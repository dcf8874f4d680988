// Entry point of every test executable: windows are drawn offscreen and test files go
// under the build tree, unless the environment says otherwise. The toolkit starts once
// and lives for all the tests.
#include "platform/application.h"

#include <gtest/gtest.h>

#include <cstdlib>

// fontconfig keeps its caches until exit; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TARNMAP_TEST_OUTPUT", TARNMAP_TEST_OUTPUT_DIR, 0);
    testing::InitGoogleTest(&argc, argv);
    platform::InitializeApplication(argc, argv);
    platform::ExitProcess(RUN_ALL_TESTS());
}
