// Which proxy a download uses: the sources in their order, bypass lists and --proxy direct.
#include "install/download/proxy_choice.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// A script that answers per address: "" is auto-detection's script; a missing key gives no answer.
ProxySources WithScripts(ProxySources sources, std::map<std::string, std::optional<ProxySetting>> scripts) {
    sources.runScript = [scripts](const std::string& pacAddress, const std::string&) -> std::optional<ProxySetting> {
        const auto found = scripts.find(pacAddress);
        return found == scripts.end() ? std::nullopt : found->second;
    };
    return sources;
}

UserProxySettings User(std::string proxy, std::string bypass = "", std::string pac = "", bool autoDetect = false) {
    return UserProxySettings{autoDetect, std::move(pac), ProxySetting{std::move(proxy), std::move(bypass)}};
}

TEST(ProxyChoice, TheFirstSourceWithAnAnswerWins) {
    const std::string url = "https://download.quorvel.com/installer/win64/Installer.zip";
    const ProxySetting machine{"machine:3128", ""};
    struct Case {
        const char* what;
        ProxySources sources;
        std::string proxy;
        std::string source;
    } cases[] = {
        {"--proxy wins over everything",
         WithScripts({"http://option:8080/", User("user:80"), {}, machine}, {{"", ProxySetting{"wpad:80", ""}}}),
         "option:8080", "the --proxy option"},
        {"--proxy direct", {"DIRECT", User("user:80"), {}, machine}, "", "the --proxy option"},
        {"the user's explicit proxy", {std::nullopt, User("user:80"), {}, machine}, "user:80", "the user's settings"},
        {"the user's proxy bypassed for the host",
         {std::nullopt, User("user:80", "*.quorvel.com"), {}, machine},
         "",
         "the user's settings, which bypasses download.quorvel.com"},
        {"the user's script",
         WithScripts({std::nullopt, User("", "", "http://pac/p.pac"), {}, machine},
                     {{"http://pac/p.pac", ProxySetting{"pac:81", ""}}}),
         "pac:81", "the user's script http://pac/p.pac"},
        {"the user's script says DIRECT",
         WithScripts({std::nullopt, User("", "", "http://pac/p.pac"), {}, machine},
                     {{"http://pac/p.pac", ProxySetting{}}}),
         "", "the user's script http://pac/p.pac"},
        {"the user's script gives no answer: auto-detection",
         WithScripts({std::nullopt, User("", "", "http://pac/x.pac"), {}, machine},
                     {{"", ProxySetting{"wpad:80", ""}}}),
         "wpad:80", "auto-detection"},
        {"the user's auto-detection",
         WithScripts({std::nullopt, User("", "", "", true), {}, machine}, {{"", ProxySetting{"wpad:80", ""}}}),
         "wpad:80", "auto-detection (the user's settings)"},
        {"SYSTEM without settings: auto-detection",
         WithScripts({std::nullopt, std::nullopt, {}, machine}, {{"", ProxySetting{"wpad:80", ""}}}), "wpad:80",
         "auto-detection"},
        {"nothing detected: the machine setting", WithScripts({std::nullopt, User(""), {}, machine}, {}),
         "machine:3128", "WinHTTP's machine setting"},
        {"no source at all: direct", {std::nullopt, std::nullopt, {}, std::nullopt}, "", "no proxy setting"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        const ProxyChoice chosen = ChooseProxy(test.sources, url);
        EXPECT_EQ(test.proxy, chosen.proxy);
        EXPECT_EQ(test.source, chosen.source);
    }
}

TEST(ProxyChoice, BypassListsAndHosts) {
    struct Case {
        const char* bypass;
        const char* host;
        bool bypassed;
    } cases[] = {
        {"<local>", "intranet", true},
        {"<local>", "intranet.example.com", false},
        {"*.example.com", "A.Example.COM", true},
        {"*.example.com", "example.com", false},
        {"10.*;localhost", "10.1.2.3", true},
        {"10.* , localhost", "localhost", true},
        {"http://*.corp:8080", "x.corp", true},
        {"", "anything", false},
        {"127.0.0.1", "127.0.0.2", false},
    };
    for (const Case& test : cases)
        EXPECT_EQ(test.bypassed, IsBypassed(test.bypass, test.host)) << test.bypass << " / " << test.host;
    EXPECT_EQ("Host", HostOf("http://user@Host:8080/path?q"));
    EXPECT_EQ("127.0.0.1", HostOf("https://127.0.0.1/x"));
    EXPECT_EQ("[::1]", HostOf("http://[::1]:80/"));
}

TEST(ProxyChoice, TheOptionIsHostAndPortOrDirect) {
    for (const char* good : {"direct", "Direct", "127.0.0.1:8080", "http://proxy.corp:3128", "http://proxy:80/"})
        EXPECT_FALSE(ProxyOptionProblem(good)) << good;
    for (const char* bad : {"", "proxy", "proxy:", ":80", "proxy:99999", "proxy:8o", "https://proxy:443",
                            "socks5://proxy:1080", "http://proxy:80/path", "user@proxy:80"})
        EXPECT_TRUE(ProxyOptionProblem(bad)) << bad;
    EXPECT_EQ("the proxy 1.2.3.4:80 (from the --proxy option)",
              DescribeProxyChoice({"1.2.3.4:80", "", "the --proxy option"}));
    EXPECT_EQ("no proxy (from no proxy setting)", DescribeProxyChoice({"", "", "no proxy setting"}));
}

}  // namespace
