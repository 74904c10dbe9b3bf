// The check before the extraction, on a real file: while the checked package is held, nobody can
// change, rename or delete it, and the extraction can still read it by its path.
#include "install/signature/package_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/text.h"
#include "install/signature/package_keys.h"
#include "scratch_folder.h"
#include "test_log.h"

namespace {

class PackageCheckTest : public testing::Test {
protected:
    PackageCheckTest() : m_folder("package-check") {}

    std::wstring Copy(const char* name) {
        const char* data = std::getenv("QV_SIGNATURE_TEST_DATA");
        const std::wstring path = m_folder.WidePath() + L"\\Installer.zip";
        EXPECT_TRUE(CopyFileW(Utf8ToWide(std::string(data ? data : "") + "/" + name).c_str(), path.c_str(), FALSE))
            << "copying " << name;
        return path;
    }

    static DWORD OpenError(const std::wstring& path, DWORD access) {
        unique_handle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
        return file ? ERROR_SUCCESS : GetLastError();
    }

    ScratchFolder m_folder;
};

TEST_F(PackageCheckTest, AHeldAuthenticPackageCannotBeChangedButCanBeRead) {
    const std::wstring path = Copy("current.zip");
    unique_handle held;
    ASSERT_EQ(PackageCheck::Authentic, CheckDownloadedPackage(path, CompiledPackageKeys(), {}, {}, held));
    ASSERT_TRUE(held);

    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenError(path, GENERIC_WRITE)) << "opened for writing";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenError(path, DELETE)) << "opened for deleting";
    EXPECT_FALSE(DeleteFileW(path.c_str())) << "deleted while held";
    EXPECT_FALSE(MoveFileW(path.c_str(), (path + L".moved").c_str())) << "renamed while held";
    {
        std::ifstream reader(std::filesystem::path(path), std::ios::binary);  // as the extraction opens it
        const std::string bytes((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
        EXPECT_GT(bytes.size(), 78u) << "the extraction could not read the held package";
    }

    held.reset();
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "still locked after the hold ended";
}

TEST_F(PackageCheckTest, APackageSomebodyCanStillWriteToIsNotTrusted) {
    const std::wstring path = Copy("current.zip");
    const unique_handle writer(CreateFileW(path.c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    unique_handle held;
    EXPECT_EQ(PackageCheck::NotAuthentic, CheckDownloadedPackage(path, CompiledPackageKeys(), {}, {}, held));
    EXPECT_FALSE(held);
}

TEST_F(PackageCheckTest, ACancelledCheckHoldsNothing) {
    const std::wstring path = Copy("current.zip");
    unique_handle held;
    EXPECT_EQ(PackageCheck::Cancelled, CheckDownloadedPackage(
                                           path, CompiledPackageKeys(), {}, [] { return true; }, held));
    EXPECT_FALSE(held);
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "the package stayed locked";
}

TEST_F(PackageCheckTest, ResultsForOtherPackagesAndWithoutKeys) {
    struct Case {
        const char* package;
        bool withKeys;
        PackageCheck expected;
    };
    for (const Case& test :
         {Case{"unknown.zip", true, PackageCheck::NotAuthentic}, Case{"unsigned.zip", true, PackageCheck::NotAuthentic},
          Case{"unsigned.zip", false, PackageCheck::Unchecked}}) {
        SCOPED_TRACE(std::string(test.package) + (test.withKeys ? " with keys" : " without keys"));
        const std::wstring path = Copy(test.package);
        unique_handle held;
        const auto keys = test.withKeys ? CompiledPackageKeys() : std::vector<P256PublicPoint>{};
        EXPECT_EQ(test.expected, CheckDownloadedPackage(path, keys, {}, {}, held));
        EXPECT_FALSE(held);
        EXPECT_TRUE(DeleteFileW(path.c_str())) << "the package stayed locked";
    }
}

}  // namespace
