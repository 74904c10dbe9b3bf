#include "app/options.h"

#include <cctype>
#include <cstdio>

#include "install/download/proxy_choice.h"
#include "common/console.h"

std::string VersionLine() { return std::string(kInstallerName) + " version " + kInstallerVersion; }

std::string NoticeLine() { return "QuorVel Software Inc. All rights reserved."; }

cxxopts::Options MakeOptionTable() {
    cxxopts::Options table(kInstallerName, kInstallerName);
    table.add_options()("h,help", "Print a usage guide.", cxxopts::value<bool>(), "")(
        "x,x86", "Force 32 bit app build installation ignoring the environment.", cxxopts::value<bool>(), "")(
        "p,path",
        "Destination folder to install to, use quotes if path contains space(s), recommended to pass as a last "
        "argument.",
        cxxopts::value<std::string>(),
        "")("s,silent", "Silent (unattended) installation mode, useful for installing from a command line or a script.",
            cxxopts::value<bool>(), "")("u,user", "License user login (usualy email).", cxxopts::value<std::string>(),
                                        "")("v,version", "Print installer version.", cxxopts::value<bool>(), "")(
        "l,log", "Write the installation log to PATH.", cxxopts::value<std::string>(), "PATH")(
        "package", "Install from the package FILE, no download.", cxxopts::value<std::string>(), "FILE")(
        "proxy", "Download through the proxy URL (host:port), or direct for none.", cxxopts::value<std::string>(),
        "URL");
    return table;
}

SwitchMeaning SilentSwitchMeaning(const std::string& word) {
    if (word.size() < 2 || word.front() != '/') return SwitchMeaning::NoSwitch;
    std::string name;
    for (const char c : word.substr(1)) name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    for (const char* silent : {"s", "q", "qn", "quiet", "silent", "verysilent"})
        if (name == silent) return SwitchMeaning::Silent;
    return name == "norestart" ? SwitchMeaning::Accepted : SwitchMeaning::NoSwitch;
}

CommandLineDecision DecideFromCommandLine(cxxopts::Options& table, const std::vector<std::string>& arguments) {
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);

    CommandLineDecision decision;
    try {
        const cxxopts::ParseResult result = table.parse(static_cast<int>(arguments.size()), argv.data());
        if (result.count("version") > 0) {
            decision.action = CommandLineAction::ShowVersion;
        } else if (result.count("help") > 0) {
            decision.action = CommandLineAction::ShowHelp;
        } else {
            decision.use32Bit = result.count("x86") > 0;
            if (result.count("user") > 0) decision.user = result["user"].as<std::string>();
            if (result.count("path") > 0) decision.installPath = "\"" + result["path"].as<std::string>() + "\"";
            decision.silent = result.count("silent") > 0;
            if (result.count("log") > 0) decision.logPath = result["log"].as<std::string>();
            if (result.count("package") > 0) decision.packageFile = result["package"].as<std::string>();
            if (result.count("proxy") > 0) {
                decision.proxy = result["proxy"].as<std::string>();
                if (const auto problem = ProxyOptionProblem(*decision.proxy))
                    throw cxxopts::exceptions::parsing(*problem);
            }
            for (const std::string& word : result.unmatched()) {
                const SwitchMeaning meaning = SilentSwitchMeaning(word);
                if (meaning == SwitchMeaning::Silent) decision.silent = true;
                if (meaning == SwitchMeaning::NoSwitch) decision.ignoredWords.push_back(word);
            }
        }
    } catch (const cxxopts::exceptions::exception& error) {
        decision = CommandLineDecision{};
        decision.action = CommandLineAction::Reject;
        decision.errorMessage = kParseErrorPrefix + std::string(error.what());
    }
    return decision;
}

std::string HelpOutput(cxxopts::Options& table, const std::string& message) {
    std::string output;
    if (!message.empty()) output += message + "\n\n";
    output += NoticeLine() + "\n";
    output += table.help();
    output += std::string(kSilentSwitchesLine) + "\n\n";
    return output;
}

void PrintHelp(ParentConsole& console, cxxopts::Options& table, const std::string& message) {
    console.Attach();
    std::fputs(HelpOutput(table, message).c_str(), stdout);
    std::fflush(stdout);
}
