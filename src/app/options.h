#pragma once
// The installer's command line: the option table, what each outcome of parsing means for the
// run, and the lines that the information options print.
#include <cxxopts.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/version.h"

class ParentConsole;

constexpr const char* kInstallerName = "QuorVel Installer";
constexpr const char* kInstallerVersion = QV_FILE_VERSION_TEXT;  // the file version
constexpr const char* kParseErrorPrefix = "Failed to parse command line arguments, error: ";
constexpr const char* kSilentModeNotice =
    "By installing this software in silent mode you are agreed to the End User Licence Agreement and conditions.";

// kInstallerName, " version " and kInstallerVersion: "QuorVel Installer version 1.5.0.88"
std::string VersionLine();
// The maker's name and legal notice.
std::string NoticeLine();

// The options in help order: help, x86, path, silent, user, version, then log, package and proxy.
cxxopts::Options MakeOptionTable();

enum class CommandLineAction {
    ShowVersion,  // --version wins over everything else
    ShowHelp,     // --help without --version
    Reject,       // the parser refused the command line
    Install,      // an installation run with the values below
};

// What the command line asks for. Flags count by presence alone: --silent=false is still silent.
struct CommandLineDecision {
    CommandLineAction action = CommandLineAction::Install;
    std::string errorMessage;  // Reject: the parse-error prefix and the parser's text
    bool use32Bit = false;
    bool silent = false;
    std::string user;                  // as given, may be empty
    std::string installPath;           // enclosed in double quotes when given, else empty
    std::string logPath;               // --log: where the installation log goes; empty for the default
    std::string packageFile;           // --package: the package on disk to install; empty to download it
    std::optional<std::string> proxy;  // --proxy: "direct" or the proxy's host:port
    // Words that are no option and no option's value, in order, except the silent switches of
    // other installers, which are taken (see SilentSwitchMeaning); each is logged as ignored.
    std::vector<std::string> ignoredWords;
};

// What a word that is no option means when deployment tools pass their usual switches:
// "/S", "/q", "/qn", "/quiet", "/silent" and "/verysilent" (in any case) ask for a silent run,
// "/norestart" is accepted and changes nothing (the program never restarts the machine).
enum class SwitchMeaning { NoSwitch, Silent, Accepted };
SwitchMeaning SilentSwitchMeaning(const std::string& word);

// The help's line on those switches.
constexpr const char* kSilentSwitchesLine = "  /S /q /qn /quiet /silent /verysilent as -s; /norestart is accepted.";

// |arguments| are UTF-8, the program path first. Only the parser's own errors are turned into a
// Reject decision; anything else propagates.
CommandLineDecision DecideFromCommandLine(cxxopts::Options& table, const std::vector<std::string>& arguments);

// Everything the help prints after the console's empty line: the message and an empty line (if
// there is a message), the notice line and the option table's help text.
std::string HelpOutput(cxxopts::Options& table, const std::string& message);

// Attaches the caller's console and prints HelpOutput.
void PrintHelp(ParentConsole& console, cxxopts::Options& table, const std::string& message);
