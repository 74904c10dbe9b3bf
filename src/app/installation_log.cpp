#include "app/installation_log.h"

#include "common/log.h"
#include "common/text.h"

bool OpenInstallationLog(const Configuration& configuration) {
    if (!configuration.decision.logPath.empty()) return OpenLog(Utf8ToWide(configuration.decision.logPath));
    const std::wstring& folder = configuration.run.logFolder;
    KeepPreviousLog(folder + L"installation_log.txt", folder + L"installation_log.previous.txt");
    return OpenLog(folder + L"installation_log.txt");
}
