#include "install/run_folder/private_folder.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

#include "common/text.h"
#include "scratch_folder.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Ace {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    WELL_KNOWN_SID_TYPE who;
};

bool SidIs(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE buffer[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof buffer;
    return CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer);
}

// Wine neither enforces nor keeps a folder's descriptor, so the descriptor the code hands to
// CreateDirectoryW is what is checked: read back from its SDDL the way the system reads it.
TEST(PrivateFolderDescriptor, FullControlForSystemAndAdministratorsOnlyNothingInherited) {
    EXPECT_EQ(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", PrivateFolderSddl());

    PSECURITY_DESCRIPTOR raw = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(PrivateFolderSddl().c_str(), SDDL_REVISION_1, &raw,
                                                                     nullptr));
    const std::unique_ptr<void, decltype(&LocalFree)> descriptor(raw, &LocalFree);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(raw, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing is inherited from the parent";
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    EXPECT_FALSE(control & SE_SACL_PRESENT);

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(raw, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr) << "a null DACL would grant everybody everything";
    const Ace expected[] = {
        {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, WinLocalSystemSid},
        {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
         WinBuiltinAdministratorsSid},
    };
    ASSERT_EQ(2u, dacl->AceCount) << "nobody else gets any right";
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw_ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &raw_ace));
        const auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw_ace);
        EXPECT_EQ(expected[i].type, ace->Header.AceType) << i;
        EXPECT_EQ(expected[i].flags, ace->Header.AceFlags) << i;
        EXPECT_EQ(expected[i].mask, ace->Mask) << i;
        EXPECT_TRUE(SidIs(const_cast<DWORD*>(&ace->SidStart), expected[i].who)) << i;
    }
}

TEST(PrivateFolder, EachRunGetsAFreshUnpredictableFolderWithItsLockHeld) {
    ScratchFolder parent("private");
    PrivateFolder first;
    PrivateFolder second;
    ASSERT_TRUE(first.Create(parent.WidePath())) << GetLastError();
    ASSERT_TRUE(second.Create(parent.WidePath())) << GetLastError();
    const std::wregex name(std::regex_replace(parent.WidePath(), std::wregex(LR"([\\^$.|?*+()\[\]{}])"), L"\\$&") +
                           LR"(\\QuorVel-[0-9A-F]{16})");
    EXPECT_TRUE(std::regex_match(first.Path(), name)) << WideToUtf8(first.Path());
    EXPECT_NE(first.Path(), second.Path());

    const std::wstring lock = first.Path() + L"\\" + kOwnerLockName;
    const unique_handle other(CreateFileW(lock.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(other.valid()) << "the lock is held without sharing";
    EXPECT_EQ(DWORD{ERROR_SHARING_VIOLATION}, GetLastError());
    first.ReleaseLock();
    EXPECT_FALSE(Exists(lock)) << "the lock file goes with its handle";

    EXPECT_FALSE(PrivateFolder().Create(parent.WidePath() + L"\\missing")) << "no parent is created on the way";
}

TEST(RemoveAbandonedRunFolders, RemovesOnlyOurFoldersThatNoRunningCopyOwns) {
    ScratchFolder parent("abandoned");
    PrivateFolder running;
    ASSERT_TRUE(running.Create(parent.WidePath()));
    PrivateFolder crashed;
    ASSERT_TRUE(crashed.Create(parent.WidePath()));
    crashed.ReleaseLock();  // as when its process died
    std::ofstream(std::filesystem::path(crashed.Path() + L"\\Installer.zip")) << "left behind";
    const std::wstring older = parent.WidePath() + L"\\QuorVel-0123456789ABCDEF";  // no lock file at all
    ASSERT_TRUE(CreateDirectoryW(older.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((older + L"\\Installer").c_str(), nullptr));
    const std::wstring notOurs = parent.WidePath() + L"\\Other";
    ASSERT_TRUE(CreateDirectoryW(notOurs.c_str(), nullptr));
    std::ofstream(std::filesystem::path(parent.WidePath() + L"\\QuorVel-file")) << "a file, not a run folder";

    EXPECT_EQ(2u, RemoveAbandonedRunFolders(parent.WidePath()));
    EXPECT_TRUE(Exists(running.Path() + L"\\" + kOwnerLockName)) << "the running copy's folder stays";
    EXPECT_FALSE(Exists(crashed.Path()));
    EXPECT_FALSE(Exists(older));
    EXPECT_TRUE(Exists(notOurs));
    EXPECT_TRUE(Exists(parent.WidePath() + L"\\QuorVel-file"));
}

TEST(PrivateFolderParent, IsAPlainFolderThatCanBeUsedAgain) {
    const std::wstring parent = PrivateFolderParent();
    ASSERT_FALSE(parent.empty()) << GetLastError();
    const DWORD attributes = GetFileAttributesW(parent.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(parent, PrivateFolderParent()) << "an existing parent of ours is taken again";
    const bool systemTemp = parent.size() > 11 && parent.substr(parent.size() - 11) == L"\\SystemTemp";
    const bool ours = parent.size() > 14 && parent.substr(parent.size() - 14) == L"\\QuorVel Setup";
    EXPECT_TRUE(systemTemp || ours) << WideToUtf8(parent);
}

}  // namespace
