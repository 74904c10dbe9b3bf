#include "app/configuration.h"

#include <windows.h>

#include "common/log.h"
#include "common/text.h"
#include "install/setup/setup_stage.h"
#include "ui/product_name.h"

namespace {

std::wstring TemporaryFolder() {
    std::wstring folder(MAX_PATH + 1, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    if (length > folder.size()) {  // a longer temporary folder: the call told us its size
        folder.assign(length, L'\0');
        length = GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
    }
    folder.resize(length <= folder.size() ? length : 0);
    return folder;
}

RunChoices ChoicesOf(const CommandLineDecision& decision) {
    RunChoices choices;
    choices.silent = decision.silent;
    choices.use32Bit = decision.use32Bit;
    choices.user = decision.user;
    choices.installPath = decision.installPath;
    choices.packageFile = decision.packageFile;
    choices.proxy = decision.proxy;
    choices.tag = WideToUtf8(GetFileNameTag());
    return choices;
}

}  // namespace

std::wstring LogFolderIn(const std::wstring& temporaryFolder) {
    return temporaryFolder + Utf8ToWide(GetProductName()) + L"\\";
}

Configuration Configure(cxxopts::Options& table, const std::vector<std::string>& arguments,
                        const DownloadTiming& timing) {
    Configuration configuration;
    configuration.decision = DecideFromCommandLine(table, arguments);
    configuration.run.choices = ChoicesOf(configuration.decision);
    configuration.run.logFolder = LogFolderIn(TemporaryFolder());
    configuration.run.timing = timing;
    return configuration;
}

void SilentWithoutDesktop(Configuration& configuration, const DesktopProbe& desktop) {
    RunChoices& choices = configuration.run.choices;
    if (configuration.decision.action != CommandLineAction::Install || choices.silent || !desktop) return;
    const DesktopPresence presence = desktop();
    if (presence.interactive) return;
    Log(LogLevel::Warning, "No interactive desktop (session ", presence.session, "): running silently");
    choices.silent = true;
}
