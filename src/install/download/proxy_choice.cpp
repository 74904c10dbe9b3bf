#include "install/download/proxy_choice.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

constexpr char kDirect[] = "direct";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> Entries(const std::string& list) {
    std::vector<std::string> entries;
    std::string entry;
    for (const char c : list + ";") {
        if (c == ';' || c == ' ' || c == ',' || c == '\t') {
            if (!entry.empty()) entries.push_back(Lower(entry));
            entry.clear();
        } else {
            entry += c;
        }
    }
    return entries;
}

// "*" matches any run of characters.
bool Matches(const std::string& pattern, const std::string& text) {
    if (pattern.empty()) return text.empty();
    if (pattern[0] == '*') {
        for (std::size_t skip = 0; skip <= text.size(); ++skip)
            if (Matches(pattern.substr(1), text.substr(skip))) return true;
        return false;
    }
    return !text.empty() && pattern[0] == text[0] && Matches(pattern.substr(1), text.substr(1));
}

// The host part of a bypass entry ("http://*.example.com:80" → "*.example.com").
std::string EntryHost(std::string entry) {
    const std::size_t scheme = entry.find("://");
    if (scheme != std::string::npos) entry.erase(0, scheme + 3);
    const std::size_t port = entry.rfind(':');
    if (port != std::string::npos && entry.find(']') == std::string::npos) entry.erase(port);
    return entry;
}

std::optional<ProxyChoice> Named(const ProxySetting& setting, const std::string& host, const std::string& source) {
    if (setting.proxy.empty()) return std::nullopt;
    if (IsBypassed(setting.bypass, host)) return ProxyChoice{"", setting.bypass, source + ", which bypasses " + host};
    return ProxyChoice{setting.proxy, setting.bypass, source};
}

std::optional<ProxyChoice> FromScript(const ProxySources& sources, const std::string& pacAddress,
                                      const std::string& url, const std::string& source) {
    if (!sources.runScript) return std::nullopt;
    const std::optional<ProxySetting> answer = sources.runScript(pacAddress, url);
    if (!answer) return std::nullopt;
    if (answer->proxy.empty()) return ProxyChoice{"", "", source};  // the script says DIRECT
    return Named(*answer, HostOf(url), source);
}

// "http://host:port/" → "host:port": the form WinHTTP takes for every scheme.
std::string ProxyAddress(std::string option) {
    const std::size_t scheme = option.find("://");
    if (scheme != std::string::npos) option.erase(0, scheme + 3);
    if (!option.empty() && option.back() == '/') option.pop_back();
    return option;
}

}  // namespace

std::string HostOf(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    std::string authority = url.substr(start, url.find_first_of("/?#", start) - start);
    const std::size_t user = authority.rfind('@');
    if (user != std::string::npos) authority.erase(0, user + 1);
    if (!authority.empty() && authority[0] == '[') return authority.substr(0, authority.find(']') + 1);
    return authority.substr(0, authority.find(':'));
}

bool IsBypassed(const std::string& bypass, const std::string& host) {
    const std::string name = Lower(host);
    for (const std::string& entry : Entries(bypass)) {
        if (entry == "<local>") {
            if (name.find('.') == std::string::npos && name.find(':') == std::string::npos) return true;
            continue;
        }
        if (Matches(EntryHost(entry), name)) return true;
    }
    return false;
}

ProxyChoice ChooseProxy(const ProxySources& sources, const std::string& url) {
    const std::string host = HostOf(url);
    if (sources.option) {
        if (Lower(*sources.option) == kDirect) return {"", "", "the --proxy option"};
        return {ProxyAddress(*sources.option), "", "the --proxy option"};
    }
    if (sources.user) {
        const UserProxySettings& user = *sources.user;
        if (auto chosen = Named(user.named, host, "the user's settings")) return *chosen;
        if (!user.pacAddress.empty())
            if (auto chosen = FromScript(sources, user.pacAddress, url, "the user's script " + user.pacAddress))
                return *chosen;
        if (user.autoDetect)
            if (auto chosen = FromScript(sources, "", url, "auto-detection (the user's settings)")) return *chosen;
    }
    if (!sources.user || !sources.user->autoDetect)
        if (auto chosen = FromScript(sources, "", url, "auto-detection")) return *chosen;
    if (sources.machine)
        if (auto chosen = Named(*sources.machine, host, "WinHTTP's machine setting")) return *chosen;
    return {"", "", "no proxy setting"};
}

std::optional<std::string> ProxyOptionProblem(const std::string& value) {
    if (Lower(value) == kDirect) return std::nullopt;
    std::string rest = value;
    const std::size_t scheme = rest.find("://");
    if (scheme != std::string::npos) {
        if (Lower(rest.substr(0, scheme)) != "http")
            return "--proxy " + value + ": a proxy is reached over http (http://HOST:PORT)";
        rest.erase(0, scheme + 3);
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    const std::size_t colon = rest.rfind(':');
    const std::string port = colon == std::string::npos ? "" : rest.substr(colon + 1);
    const bool portOk = !port.empty() && port.size() <= 5 &&
                        std::all_of(port.begin(), port.end(), [](unsigned char c) { return std::isdigit(c); }) &&
                        std::stoul(port) >= 1 && std::stoul(port) <= 65535;
    if (colon == std::string::npos || colon == 0 || !portOk || rest.find_first_of("/?#@ ") != std::string::npos)
        return "--proxy " + value + ": expected HOST:PORT, http://HOST:PORT or direct";
    return std::nullopt;
}

std::string DescribeProxyChoice(const ProxyChoice& choice) {
    return (choice.proxy.empty() ? std::string("no proxy") : "the proxy " + choice.proxy) + " (from " + choice.source +
           ")";
}
