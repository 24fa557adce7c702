// Calibration command files: which lines count, what of a line is kept,
// and the files the fixed calibration table cannot hold.
#include "CalibrationFile.h"
#include "DownloadTestUtil.h"
#include "LinkTestUtil.h"

#include <gtest/gtest.h>

using dltest::W;

TEST(Calibration, KeepsTheCommandWithItsQuoteAndDropsOnlyTheTerminator)
{
    // CR LF, LF, and a last line without any terminator.
    const std::string text =
        "; comment\r\n"
        "sendln 'VKR pm write_ee -a 64 -d 0400'\r\n"
        "wait 'RedBoot>'\r\n"
        "sendln 'VKR pm write_ee -a 66 -d 03F8'\n"
        "VKR pm write_ee -a 68 -d 0406";
    std::vector<std::string> commands;
    ASSERT_EQ(CalibrationFile::Parse(text, commands), CalibrationFile::Status::Ok);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0], "VKR pm write_ee -a 64 -d 0400'\n");
    EXPECT_EQ(commands[1], "VKR pm write_ee -a 66 -d 03F8'\n");
    // The last line keeps its final character.
    EXPECT_EQ(commands[2], "VKR pm write_ee -a 68 -d 0406\n");
}

TEST(Calibration, RefusesWhatTheTableCannotHold)
{
    std::vector<std::string> commands;
    int line = 0;
    // 30 characters fit, 31 do not.
    const std::string fits = "VKR pm write_ee -a 64 -d 0400'";
    ASSERT_EQ(fits.size(), 30u);
    EXPECT_EQ(CalibrationFile::Parse(fits + "\n", commands), CalibrationFile::Status::Ok);
    EXPECT_EQ(CalibrationFile::Parse("x\n" + fits + "\nVKR pm write_ee -a 100 -d 0400'\n", commands, &line),
              CalibrationFile::Status::CommandTooLong);
    EXPECT_EQ(line, 3);
    EXPECT_TRUE(commands.empty());

    std::string many;
    for (int i = 0; i < 256; ++i) many += "VKR pm write_ee -a " + std::to_string(i) + " -d 00\n";
    EXPECT_EQ(CalibrationFile::Parse(many, commands), CalibrationFile::Status::Ok);
    EXPECT_EQ(commands.size(), 256u);
    EXPECT_EQ(CalibrationFile::Parse(many + "VKR pm write_ee -a 1 -d 01\n", commands, &line),
              CalibrationFile::Status::TooManyCommands);
    EXPECT_EQ(line, 257);
    EXPECT_TRUE(commands.empty());

    // A line too long to read would end the reading and lose what follows.
    EXPECT_EQ(CalibrationFile::Parse(fits + "\n;" + std::string(1023, 'x') + "\n" + fits + "\n", commands, &line),
              CalibrationFile::Status::LineTooLong);
    EXPECT_EQ(line, 2);
    EXPECT_EQ(CalibrationFile::Parse(";" + std::string(1022, 'x') + "\r\n" + fits, commands),
              CalibrationFile::Status::Ok);
    EXPECT_EQ(commands.size(), 1u);

    std::wstring detail;
    EXPECT_EQ(CalibrationFile::Load(W(linktest::WorkDir() + "/no-such.TTL"), commands, &detail),
              CalibrationFile::Status::CannotOpen);
    EXPECT_NE(detail.find(L"no-such.TTL"), std::wstring::npos);
}

TEST(Calibration, SampleFilesLoadWhole)
{
    std::vector<std::string> commands;
    ASSERT_EQ(CalibrationFile::Load(W(dltest::SampleImage("calibration/TV380_CAL_S.TTL")), commands),
              CalibrationFile::Status::Ok);
    EXPECT_EQ(commands.size(), 14u);
    ASSERT_EQ(CalibrationFile::Load(W(dltest::SampleImage("calibration/TV380_CAL_M.TTL")), commands),
              CalibrationFile::Status::Ok);
    ASSERT_EQ(commands.size(), 9u);
    EXPECT_EQ(commands.front(), "VKR pm write_ee -a 64 -d 0410'\n");
}
