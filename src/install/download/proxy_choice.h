#pragma once
// Which proxy the download goes through, and where that came from. The first source that gives
// an answer wins, in this order:
//   1. the --proxy option ("direct" for none);
//   2. the interactive user's settings: an explicit proxy (with its bypass list), then the
//      script at their PAC address, then auto-detection when they have it switched on;
//   3. auto-detection (WPAD, then the script it finds), for a user without settings and SYSTEM;
//   4. WinHTTP's machine setting (netsh winhttp set proxy);
//   5. none: the connection is direct.
// A proxy whose bypass list names the host is not used for that host. Portable: the Windows side
// fills the sources in (proxy_settings.cpp), and tests fill in tables.
#include <functional>
#include <optional>
#include <string>

// A proxy list as WinHTTP gives it ("host:port", "http=host:port;https=host:port", several
// separated by ';' or ' '), and the hosts it is not used for; an empty proxy: none.
struct ProxySetting {
    std::string proxy;
    std::string bypass;
};

// The interactive user's Internet settings.
struct UserProxySettings {
    bool autoDetect = false;
    std::string pacAddress;  // the address of a proxy auto-configuration script, if any
    ProxySetting named;      // an explicit proxy, if any
};

struct ProxySources {
    std::optional<std::string> option;      // the --proxy value
    std::optional<UserProxySettings> user;  // none: no interactive user, or no settings
    // The script's answer for |url|: the script at |pacAddress|, or the one auto-detection finds
    // when it is empty; none when there is no script or it gives no answer.
    std::function<std::optional<ProxySetting>(const std::string& pacAddress, const std::string& url)> runScript;
    std::optional<ProxySetting> machine;  // WinHTTP's machine default, when it names a proxy
};

struct ProxyChoice {
    std::string proxy;  // empty: direct
    std::string bypass;
    std::string source;  // for the log: "the --proxy option", "the user's settings", ...
};

// The choice for a request to |url|.
ProxyChoice ChooseProxy(const ProxySources& sources, const std::string& url);

// True when |bypass| (entries separated by ';', ' ' or ','; "*" wildcards; "<local>" for names
// without a period) names |host|. Names compare without regard to case.
bool IsBypassed(const std::string& bypass, const std::string& host);

// The host of |url| ("http://user@Host:8080/path" → "Host"); empty when it has none.
std::string HostOf(const std::string& url);

// What the --proxy option may be: "direct", "host:port" or "http://host:port"; else the reason.
std::optional<std::string> ProxyOptionProblem(const std::string& value);

// "the proxy 127.0.0.1:8080 (from the --proxy option)" or "no proxy (from ...)", for the log.
std::string DescribeProxyChoice(const ProxyChoice& choice);
