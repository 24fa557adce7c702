// The link's health: how request outcomes move it, and how the status bar
// says it in both languages.
#include "ConnectionSettings.h"
#include "LinkHealth.h"

#include <gtest/gtest.h>

#include <vector>

using State = LinkHealth::State;
using Outcome = LinkHealth::Outcome;

TEST(LinkHealth, FailuresInARowSilenceItAndTheFirstReplyMendsIt)
{
    LinkHealth h;
    std::vector<State> told;
    h.SetListener([&](State s) { told.push_back(s); });

    h.ReportResult(false, 0xFF);  // one lost reply is not a silent drive
    EXPECT_EQ(h.state(), State::Answering);
    h.ReportResult(false, 2);  // an exception reply: the drive speaks
    EXPECT_EQ(h.consecutiveFailures(), 0);
    EXPECT_GT(h.lastReplyMs(), 0u);
    for (int i = 0; i < LinkHealth::kFailuresForSilence - 1; ++i) h.ReportResult(false, 0xFF);
    EXPECT_EQ(h.state(), State::Answering);
    h.ReportResult(false, 0);  // a write echo with other bytes: damaged
    EXPECT_EQ(h.state(), State::NotAnswering);
    h.Report(Outcome::NoReply);
    h.ReportResult(true, 0);
    EXPECT_EQ(h.state(), State::Answering);

    // A lost port stays lost through failures; a reply proves it back.
    h.ReportPortLost();
    for (int i = 0; i < 3; ++i) h.Report(Outcome::NoReply);
    EXPECT_EQ(h.state(), State::PortLost);
    h.Report(Outcome::Reply);
    EXPECT_EQ(told, (std::vector<State>{State::NotAnswering, State::Answering, State::PortLost, State::Answering}));
    EXPECT_EQ(h.changes(), 4u);
}

TEST(LinkHealth, StatusBarSaysTheStateInEnglishAndChinese)
{
    ConnectionSettings s(L"");
    struct Case {
        bool normal, boot;
        State health;
        const wchar_t* english;
        const wchar_t* chinese;
    };
    const Case cases[] = {
        {true, false, State::Answering, L"Connect", L"\u5df2\u8fde\u63a5"},
        {true, false, State::NotAnswering, L"Not answering", L"\u65e0\u5e94\u7b54"},
        {false, false, State::PortLost, L"Port lost", L"\u7aef\u53e3\u4e22\u5931"},
        {false, false, State::NotAnswering, L"DisConn", L"\u65ad\u5f00"},
        {false, true, State::NotAnswering, L"Connect", L"\u5df2\u8fde\u63a5"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MakeLinkStatusTexts(s, c.normal, c.boot, c.health, 0).link, c.english);
        EXPECT_EQ(MakeLinkStatusTexts(s, c.normal, c.boot, c.health, 1).link, c.chinese);
    }
    // The other panes keep their texts.
    EXPECT_EQ(MakeLinkStatusTexts(s, true, false, State::NotAnswering, 1).mode, L"Noraml");
}
