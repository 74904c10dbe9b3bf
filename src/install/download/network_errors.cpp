// Which network errors pass, and the texts of WinINet's own codes.
#include "install/download/package_transfer.h"

#include <windows.h>
#include <wininet.h>

#include "common/system_error_text.h"
#include "common/system_library.h"
#include "install/download/wininet.h"

bool IsTransientNetworkError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_TIMEOUT:
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
        case ERROR_INTERNET_CANNOT_CONNECT:
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
        case ERROR_INTERNET_FORCE_RETRY:
        case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        case ERROR_INTERNET_SERVER_UNREACHABLE:
        case ERROR_INTERNET_PROXY_SERVER_UNREACHABLE:
        case ERROR_CONNECTION_REFUSED:
        case ERROR_CONNECTION_ABORTED:
        case ERROR_NETNAME_DELETED:
        case WSAECONNRESET:
        case WSAECONNREFUSED:
        case WSAETIMEDOUT:
            return true;
        default:
            return false;
    }
}

// The system's text for |error|; WinINet's own codes have their texts in its DLL.
std::string NetworkErrorText(DWORD error) {
    if (error >= INTERNET_ERROR_BASE && error <= INTERNET_ERROR_LAST) {
        const std::string text = ModuleMessageText(error, LoadSystemLibrary(L"wininet.dll"));
        if (!text.empty()) return text;
    }
    return SystemMessageText(error);
}
