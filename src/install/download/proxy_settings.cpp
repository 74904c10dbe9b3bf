#include "install/download/proxy_settings.h"

#include <winhttp.h>

#include <map>
#include <memory>
#include <utility>

#include "common/text.h"
#include "install/download/winhttp.h"

namespace {

std::optional<UserProxySettings> UserSettings() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttp::Get().userProxyConfig(&config)) return std::nullopt;
    const GlobalText pac(config.lpszAutoConfigUrl), proxy(config.lpszProxy), bypass(config.lpszProxyBypass);
    UserProxySettings user;
    user.autoDetect = config.fAutoDetect != FALSE;
    user.pacAddress = WideToUtf8(pac.Text());
    user.named = {WideToUtf8(proxy.Text()), WideToUtf8(bypass.Text())};
    return user;
}

std::optional<ProxySetting> MachineSetting() {
    WINHTTP_PROXY_INFO info{};
    if (!WinHttp::Get().defaultProxyConfig(&info)) return std::nullopt;
    const GlobalText proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || proxy.Text().empty()) return std::nullopt;
    return ProxySetting{WideToUtf8(proxy.Text()), WideToUtf8(bypass.Text())};
}

// The answer of the script at |pacAddress| (auto-detected when empty) for |url|.
std::optional<ProxySetting> RunScript(HINTERNET session, const std::string& pacAddress, const std::string& url) {
    const std::wstring address = Utf8ToWide(pacAddress);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (pacAddress.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = address.c_str();
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    if (!WinHttp::Get().proxyForUrl(session, Utf8ToWide(url).c_str(), &options, &info)) return std::nullopt;
    const GlobalText proxy(info.lpszProxy), bypass(info.lpszProxyBypass);
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return ProxySetting{};
    return ProxySetting{WideToUtf8(proxy.Text()), WideToUtf8(bypass.Text())};
}

}  // namespace

ProxySources ReadProxySources(HINTERNET session, const std::optional<std::string>& option) {
    ProxySources sources;
    sources.option = option;
    if (option) return sources;  // the option wins: nothing else is asked
    sources.user = UserSettings();
    sources.machine = MachineSetting();
    // Auto-detection asks the network (DHCP, DNS): once per script and address.
    auto answers = std::make_shared<std::map<std::pair<std::string, std::string>, std::optional<ProxySetting>>>();
    sources.runScript = [session, answers](const std::string& pacAddress, const std::string& url) {
        const auto key = std::make_pair(pacAddress, url);
        const auto known = answers->find(key);
        if (known != answers->end()) return known->second;
        return (*answers)[key] = RunScript(session, pacAddress, url);
    };
    return sources;
}
