// Which network errors pass, and the texts of WinHTTP's own codes.
#include "install/download/package_transfer.h"

#include <windows.h>
#include <winhttp.h>

#include "common/system_error_text.h"
#include "common/system_library.h"
#include "install/download/winhttp.h"

bool IsTransientNetworkError(DWORD error) {
    switch (error) {
        case ERROR_WINHTTP_TIMEOUT:
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
        case ERROR_WINHTTP_CANNOT_CONNECT:
        case ERROR_WINHTTP_CONNECTION_ERROR:
        case ERROR_WINHTTP_RESEND_REQUEST:
        case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        case ERROR_CONNECTION_REFUSED:
        case ERROR_CONNECTION_ABORTED:
        case ERROR_NETNAME_DELETED:
        case WSAECONNRESET:
        case WSAECONNREFUSED:
        case WSAECONNABORTED:
        case WSAETIMEDOUT:
            return true;
        default:
            return false;
    }
}

std::string NetworkErrorText(DWORD error) {
    if (error >= WINHTTP_ERROR_BASE && error <= WINHTTP_ERROR_LAST) {
        const std::string text = ModuleMessageText(error, LoadSystemLibrary(L"winhttp.dll"));
        if (!text.empty()) return text;
    }
    return SystemMessageText(error);
}
