#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace kavlento::app;

namespace {

struct Line {
    QStringList arguments;
    AdminCommand command;
    bool unattended;
    std::optional<int> keep;
    bool refused;       // without the keyword: a usage error
    bool ignoresOption; // with the keyword: the backup ends with a status of its own
};

} // namespace

// What each command line asks for. The host's own words never turn a start
// away; the administrator's options count only exactly as written, and a
// mistake beside the keyword still lets the backup run, with a status that
// says an option was ignored.
TEST(CommandLine, EachLineAsksForWhatItSays) {
    const QString code = QStringLiteral("4702519836");
    const QString keyword = QStringLiteral("OtoRadizEv");
    const Line lines[] = {
        {{}, AdminCommand::None, false, {}, false, false},
        {{"--" + code + "x"}, AdminCommand::None, false, {}, false, false},
        {{code, keyword}, AdminCommand::None, true, {}, false, false},
        {{code + keyword}, AdminCommand::None, true, {}, false, false},
        {{code, "otoradizev"}, AdminCommand::None, false, {}, false, false},
        {{code, keyword, "--sakla", "14"}, AdminCommand::None, true, 14, false, false},
        {{code, keyword, "--sakla=14"}, AdminCommand::None, true, {}, false, true},
        {{code, keyword, "--sakla", "14x"}, AdminCommand::None, true, {}, false, true},
        {{code, keyword, "--sakla"}, AdminCommand::None, true, {}, false, true},
        {{code, keyword, "--denetle"}, AdminCommand::None, true, {}, false, true},
        {{code, keyword, "-platform", "foo", "-style", "x"},
         AdminCommand::None,
         true,
         {},
         false,
         false},
        {{code, keyword, "--hedef", "/yedek"}, AdminCommand::None, true, {}, false, false},
        {{code, "--sakla", "3"}, AdminCommand::None, false, 3, true, false},
        {{code, "--denetle"}, AdminCommand::CheckBackups, false, {}, false, false},
        {{code, "--durum"}, AdminCommand::Status, false, {}, false, false},
        {{code, "--durum", "7"}, AdminCommand::Status, false, {}, false, false},
        {{code, "--durum", "0"}, AdminCommand::Status, false, {}, true, false},
        {{code, "--denetle", "--hedef", "/y"}, AdminCommand::CheckBackups, false, {}, true, false},
        {{code, "--hedef"}, AdminCommand::StoreTarget, false, {}, true, false},
        {{"--yardım"}, AdminCommand::Help, false, {}, false, false},
        {{code, "--help", "--denetle"}, AdminCommand::Help, false, {}, false, false},
    };
    for (const Line& line : lines) {
        SCOPED_TRACE(line.arguments.join(' ').toStdString());
        const CommandLine parsed = CommandLine::fromArguments(line.arguments);
        EXPECT_EQ(parsed.adminCommand(), line.command);
        EXPECT_EQ(parsed.isUnattended() && parsed.hasLaunchCode(), line.unattended);
        EXPECT_EQ(parsed.archivesToKeep(), line.keep);
        EXPECT_EQ(!parsed.refusal().isEmpty(), line.refused);
        EXPECT_EQ(parsed.ignoresAnOption(), line.ignoresOption);
    }
    EXPECT_EQ(CommandLine::fromArguments({code, "--durum", "7"}).daysAllowed(), 7);
    EXPECT_EQ(CommandLine::fromArguments({code, "--durum"}).daysAllowed(), 2);
}

// Help shows the launch code only to whoever gave it, and names every option
// and status.
TEST(CommandLine, HelpNamesEveryOptionAndStatusAndTheCodeOnlyWhereGiven) {
    const QString withCode = CommandLine::fromArguments({"4702519836", "--yardım"}).help();
    const QString without = CommandLine::fromArguments({"--yardım"}).help();
    EXPECT_TRUE(withCode.contains("4702519836"));
    EXPECT_FALSE(without.contains("4702519836"));
    for (const char* word :
         {"--sakla", "--hedef", "--denetle", "--durum", "  10 ", "  11 ", "  12 ", "  13 "}) {
        EXPECT_TRUE(without.contains(word)) << word;
    }
}
