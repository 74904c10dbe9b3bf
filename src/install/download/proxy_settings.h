#pragma once
// The proxy sources of this machine and its user, read through WinHTTP, for ChooseProxy.
#ifdef _WIN32
#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

#include "install/download/proxy_choice.h"

// The --proxy |option|, the current user's settings, auto-detection and scripts (run through
// |session|, each address's answer remembered) and WinHTTP's machine setting.
ProxySources ReadProxySources(HINTERNET session, const std::optional<std::string>& option);

#endif
