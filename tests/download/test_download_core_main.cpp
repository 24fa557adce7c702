#include "LinkTestUtil.h"

#include <gtest/gtest.h>

// The download sequence and calibration files without Qt, so that the
// ThreadSanitizer stage can run them.
int main(int argc, char** argv)
{
    // LinkCore writes ./msg and ./log: every test process has its own folder.
    linktest::WorkDir();
    linktest::UnmapAllPorts();
    linktest::ShortEraseWait();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
