// The pieces of the real transfer that need no server: which failures are worth another
// attempt, where an attempt receives, and where a redirect leads.
#include "install/download/package_transfer.h"

#include <gtest/gtest.h>
#include <winhttp.h>

#include "common/text.h"

namespace {

TEST(PackageTransfer, ConnectionFailuresAreTransientOthersAreNot) {
    const struct {
        DWORD error;
        bool transient;
    } cases[] = {
        {ERROR_WINHTTP_CANNOT_CONNECT, true},
        {ERROR_WINHTTP_CONNECTION_ERROR, true},
        {WSAECONNRESET, true},
        {ERROR_WINHTTP_NAME_NOT_RESOLVED, true},
        {ERROR_WINHTTP_TIMEOUT, true},
        {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, true},
        {ERROR_WINHTTP_RESEND_REQUEST, true},
        {ERROR_WINHTTP_INVALID_URL, false},
        {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, false},
        {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, false},
        {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, false},
        {ERROR_WINHTTP_SECURE_INVALID_CA, false},
        {ERROR_WINHTTP_SECURE_FAILURE, false},
        {ERROR_ACCESS_DENIED, false},
        {ERROR_DISK_FULL, false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.transient, IsTransientNetworkError(c.error)) << c.error;
}

TEST(PackageTransfer, EachAttemptReceivesIntoAFileOfItsOwn) {
    EXPECT_EQ(L"C:\\Temp\\QuorVel\\Installer.zip.part1", AttemptFile(L"C:\\Temp\\QuorVel\\Installer.zip", 1));
    EXPECT_NE(AttemptFile(L"a.zip", 1), AttemptFile(L"a.zip", 2));
}

TEST(PackageTransfer, RedirectAddressesAreResolvedAgainstTheAddressAskedFor) {
    const struct {
        const wchar_t* base;
        const wchar_t* location;
        const wchar_t* resolved;
    } cases[] = {
        {L"https://a.test/x/y.zip", L"https://b.test/z.zip", L"https://b.test/z.zip"},
        {L"https://a.test/x/y.zip", L"http://b.test:81/z.zip", L"http://b.test:81/z.zip"},
        {L"https://a.test:8443/x/y.zip", L"/other/z.zip", L"https://a.test:8443/other/z.zip"},
        {L"http://a.test/x/y.zip?q=1", L"z.zip", L"http://a.test/x/z.zip"},
        {L"http://a.test", L"z.zip", L"http://a.test/z.zip"},
        {L"https://a.test/x/y.zip", L"//c.test/z.zip", L"https://c.test/z.zip"},
        {L"https://a.test/x/y.zip", L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(c.resolved), ResolveLocation(c.base, c.location))
            << WideToUtf8(c.base) << " + " << WideToUtf8(c.location);
}

}  // namespace
