#include "FaultMatrix.h"
#include "LinkTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv)
{
    // --table: the table of the cells the other runs left, printed and
    // written beside the build (run after every cell).
    if (argc > 1 && std::strcmp(argv[1], "--table") == 0)
        return faultmatrix::WriteTable(faultmatrix::CellFolder(), faultmatrix::TablePath()) ? 0 : 1;
    // LinkCore writes ./msg and ./log: every test process has its own folder.
    linktest::WorkDir();
    linktest::UnmapAllPorts();
    linktest::ShortEraseWait();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
