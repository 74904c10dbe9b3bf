#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/options.h"
#include "common/version.h"
#include "app/run_installer.h"

namespace {

struct Expected {
    CommandLineAction action;
    bool use32Bit;
    bool silent;
    std::string user;
    std::string installPath;
    std::string errorMessage;
};

Expected Only(CommandLineAction action) { return {action, false, false, "", "", ""}; }

Expected Installs(bool use32Bit = false, bool silent = false, std::string user = "", std::string installPath = "") {
    return {CommandLineAction::Install, use32Bit, silent, std::move(user), std::move(installPath), ""};
}

struct Case {
    std::vector<std::string> words;  // after the program path
    Expected expected;
};

const char* ActionName(CommandLineAction action) {
    switch (action) {
        case CommandLineAction::ShowVersion:
            return "ShowVersion";
        case CommandLineAction::ShowHelp:
            return "ShowHelp";
        case CommandLineAction::Reject:
            return "Reject";
        case CommandLineAction::Install:
            return "Install";
    }
    return "?";
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
    return "[" + text + "]";
}

CommandLineDecision Decide(const std::vector<std::string>& words) {
    std::vector<std::string> arguments{"C:\\Downloads\\QuorVelSetup.exe"};
    arguments.insert(arguments.end(), words.begin(), words.end());
    cxxopts::Options table = MakeOptionTable();
    return DecideFromCommandLine(table, arguments);
}

void ExpectDecision(const Case& c) {
    const CommandLineDecision seen = Decide(c.words);
    const std::string where = Joined(c.words);
    EXPECT_STREQ(ActionName(c.expected.action), ActionName(seen.action)) << where;
    EXPECT_EQ(c.expected.use32Bit, seen.use32Bit) << where;
    EXPECT_EQ(c.expected.silent, seen.silent) << where;
    EXPECT_EQ(c.expected.user, seen.user) << where;
    EXPECT_EQ(c.expected.installPath, seen.installPath) << where;
    EXPECT_EQ(c.expected.errorMessage, seen.errorMessage) << where;
}

const std::string kPrefix = "Failed to parse command line arguments, error: ";

TEST(CommandLine, InformationOptionsWinInTheirOrder) {
    const Case cases[] = {
        {{"--version"}, Only(CommandLineAction::ShowVersion)},
        {{"-v", "-h"}, Only(CommandLineAction::ShowVersion)},
        {{"-h", "-v"}, Only(CommandLineAction::ShowVersion)},
        {{"-hv"}, Only(CommandLineAction::ShowVersion)},
        {{"--version=false"}, Only(CommandLineAction::ShowVersion)},
        {{"--help"}, Only(CommandLineAction::ShowHelp)},
        {{"-h", "--silent", "-p", "C:\\x"}, Only(CommandLineAction::ShowHelp)},
        {{"--help", "--user", "a@b.c", "stray"}, Only(CommandLineAction::ShowHelp)},
    };
    for (const Case& c : cases) ExpectDecision(c);
}

TEST(CommandLine, FlagsCountByPresenceAndValuesAreTakenAsGiven) {
    const Case cases[] = {
        {{}, Installs()},
        {{"-sx"}, Installs(true, true)},
        {{"-xs"}, Installs(true, true)},
        {{"--silent=false"}, Installs(false, true)},
        {{"--x86=0", "--silent=F"}, Installs(true, true)},
        {{"-s", "false"}, Installs(false, true)},  // a stray word, ignored
        {{"-ps"}, Installs(false, false, "", "\"s\"")},
        {{"-sp", "D:\\Apps"}, Installs(false, true, "", "\"D:\\Apps\"")},
        {{"--path", "C:\\Program Files\\QuorVel"}, Installs(false, false, "", "\"C:\\Program Files\\QuorVel\"")},
        {{"--path="}, Installs(false, false, "", "\"\"")},
        {{"--path", "-x"}, Installs(false, false, "", "\"-x\"")},  // the next word is the value
        {{"--path", "a", "--path", "b"}, Installs(false, false, "", "\"b\"")},
        {{"--user="}, Installs()},
        {{"-u", "anna@example.org", "-x"}, Installs(true, false, "anna@example.org")},
        {{"--user=jürgen@example.de", "--path=C:\\Größe"},
         Installs(false, false, "jürgen@example.de", "\"C:\\Größe\"")},
        {{"setup", "now"}, Installs()},
    };
    for (const Case& c : cases) ExpectDecision(c);
}

// Deployment tools' own silent switches, and the words that are logged as ignored.
TEST(CommandLine, OtherInstallersSilentSwitchesMakeTheRunSilent) {
    const struct {
        std::vector<std::string> words;
        bool silent;
        std::vector<std::string> ignored;
        std::string user;
    } cases[] = {
        {{"/S"}, true, {}, ""},
        {{"/quiet", "/norestart"}, true, {}, ""},
        {{"/VERYSILENT"}, true, {}, ""},
        {{"/qn"}, true, {}, ""},
        {{"/Silent", "/q"}, true, {}, ""},
        {{"/norestart"}, false, {}, ""},
        {{"/foo"}, false, {"/foo"}, ""},
        {{"/S", "-u", "alice"}, true, {}, "alice"},
        {{"-u", "/S"}, false, {}, "/S"},  // an option's value is no switch
        {{"/", "//S", "/S2", "setup"}, false, {"/", "//S", "/S2", "setup"}, ""},
    };
    for (const auto& c : cases) {
        const CommandLineDecision seen = Decide(c.words);
        EXPECT_EQ(CommandLineAction::Install, seen.action) << Joined(c.words);
        EXPECT_EQ(c.silent, seen.silent) << Joined(c.words);
        EXPECT_EQ(c.ignored, seen.ignoredWords) << Joined(c.words);
        EXPECT_EQ(c.user, seen.user) << Joined(c.words);
    }
}

TEST(CommandLine, TheParsersErrorsRejectTheRunWithItsText) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--foo"}, "Option 'foo' does not exist"},
        {{"-z"}, "Option 'z' does not exist"},
        {{"--silents"}, "Option 'silents' does not exist"},
        {{"--pat", "C:\\x"}, "Option 'pat' does not exist"},
        {{"-sx", "-q"}, "Option 'q' does not exist"},
        {{"--path"}, "Option 'path' is missing an argument"},
        {{"-x", "-u"}, "Option 'u' is missing an argument"},  // the form the user typed
        {{"--silent=yes"}, "Argument 'yes' failed to parse"},
        {{"--silent=TRUE"}, "Argument 'TRUE' failed to parse"},
        {{"--a"}, "Argument '--a' starts with a - but has incorrect syntax"},
        {{"--version", "--foo"}, "Option 'foo' does not exist"},
    };
    for (const auto& [words, text] : cases) {
        Expected expected = Only(CommandLineAction::Reject);
        expected.errorMessage = kPrefix + text;
        ExpectDecision({words, expected});
    }
}

TEST(CommandLine, VersionAndNoticeLines) {
    EXPECT_EQ(std::string("QuorVel Installer version ") + QV_FILE_VERSION_TEXT, VersionLine());
    EXPECT_EQ(0u, NoticeLine().rfind("QuorVel Software Inc. ", 0)) << NoticeLine();
}

TEST(CommandLine, HelpOutputPutsTheMessageAndAnEmptyLineBeforeTheNotice) {
    cxxopts::Options table = MakeOptionTable();
    const std::string help = table.help() + kSilentSwitchesLine + "\n";
    EXPECT_EQ(NoticeLine() + "\n" + help + "\n", HelpOutput(table, ""));
    EXPECT_EQ("Bad words\n\n" + NoticeLine() + "\n" + help + "\n", HelpOutput(table, "Bad words"));
    EXPECT_EQ("\n\n", HelpOutput(table, "").substr(HelpOutput(table, "").size() - 2)) << "ends with an empty line";
}

TEST(CommandLine, WideArgumentsBecomeUtf8) {
    const wchar_t* argv[] = {L"C:\\QuorVelSetup.exe", L"--path=C:\\Gr\u00f6\u00dfe \u65e5\u672c", nullptr};
    const std::vector<std::string> expected{"C:\\QuorVelSetup.exe",
                                            "--path=C:\\Gr\xc3\xb6\xc3\x9f"
                                            "e \xe6\x97\xa5\xe6\x9c\xac"};
    EXPECT_EQ(expected, ArgumentsAsUtf8(2, argv));
    EXPECT_TRUE(ArgumentsAsUtf8(0, nullptr).empty());
}

}  // namespace
