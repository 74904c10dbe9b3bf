#include "install/run_folder/cleanup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/system_error_text.h"
#include "common/unique_handle.h"
#include "scratch_folder.h"
#include "test_log.h"

namespace {

void WriteFile(const std::wstring& path, const std::string& content = "data") {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << content;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(RemoveFolderTree, RemovesNestedFoldersAndReadOnlyFiles) {
    ScratchFolder root("tree");
    const std::wstring folder = root.WidePath() + L"\\Installer";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub\\empty").c_str(), nullptr));
    WriteFile(folder + L"\\Installer.exe");
    WriteFile(folder + L"\\sub\\readonly.dll");
    ASSERT_TRUE(SetFileAttributesW((folder + L"\\sub\\readonly.dll").c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_EQ(DWORD{ERROR_SUCCESS}, RemoveFolderTree(folder));
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(Exists(root.WidePath())) << "only the named folder goes";
}

TEST(RemoveFolderTree, MissingFolderIsNoError) {
    ScratchFolder root("missing");
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, RemoveFolderTree(root.WidePath() + L"\\Installer"));
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, RemoveFolderTree(root.WidePath() + L"\\no\\such\\Installer"));
}

TEST(RemoveFolderTree, LockedFileIsReportedAndTheRestRemoved) {
    ScratchFolder root("locked");
    const std::wstring folder = root.WidePath() + L"\\Installer";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteFile(folder + L"\\a.txt");
    WriteFile(folder + L"\\held.dll");
    WriteFile(folder + L"\\z.txt");
    unique_handle held(CreateFileW((folder + L"\\held.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.valid());

    EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, RemoveFolderTree(folder));
    EXPECT_TRUE(Exists(folder + L"\\held.dll"));
    EXPECT_FALSE(Exists(folder + L"\\a.txt"));
    EXPECT_FALSE(Exists(folder + L"\\z.txt"));

    held.reset();
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, RemoveFolderTree(folder));
    EXPECT_FALSE(Exists(folder));
}

TEST(CleanUpTempFiles, LockedFileGivesOneWarningInTheLogAndOnStandardOutput) {
    ScratchFolder root("cleanup");
    const std::wstring folder = root.WidePath() + L"\\Installer";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteFile(folder + L"\\held.dll");
    unique_handle held(CreateFileW((folder + L"\\held.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.valid());

    const size_t logStart = TestLog::Text().size();
    testing::internal::CaptureStdout();
    CleanUpTempFiles(folder, true);
    const std::string printed = testing::internal::GetCapturedStdout();
    const std::string logged = TestLog::Text().substr(logStart);

    const std::string warning = "Unable to clean up install files. Reason: ";
    EXPECT_NE(std::string::npos, logged.find("Note: Cleaning up temp install files")) << logged;
    EXPECT_EQ(1, TestLog::Count(logged, warning)) << logged;
    const std::string reason = SystemMessageText(ERROR_SHARING_VIOLATION);
    ASSERT_FALSE(reason.empty());
    EXPECT_NE(std::string::npos, logged.find("Warning: " + warning + reason + "\n")) << logged;
    EXPECT_EQ(warning + reason + "\n", printed);
}

TEST(CleanUpTempFiles, InteractiveRunPrintsNothing) {
    ScratchFolder root("quiet");
    const std::wstring folder = root.WidePath() + L"\\Installer";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    WriteFile(folder + L"\\held.dll");
    unique_handle held(CreateFileW((folder + L"\\held.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    testing::internal::CaptureStdout();
    CleanUpTempFiles(folder, false);
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

}  // namespace
