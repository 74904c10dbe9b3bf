#pragma once
// The private folder of one run: the package and everything unpacked from it live there, and the
// programs started with administrator rights are started from there. Each run creates a fresh
// folder with an unpredictable name, under a parent where ordinary users can neither create
// nor delete nor rename anything, with a descriptor of its own: full control for Administrators
// and SYSTEM, nothing inherited from above. Nothing a user or another program left anywhere can
// take its place.
#ifdef _WIN32
#include <windows.h>

#include <string>

#include "common/unique_handle.h"

// The descriptor of our folders, as SDDL text; it is what CreateDirectoryW is given.
std::wstring PrivateFolderSddl();

// Where run folders are made: %SystemRoot%\SystemTemp where the system has it (only SYSTEM and
// Administrators may write there); otherwise "%ProgramData%\QuorVel Setup", created with the
// private descriptor, or, when it exists, checked to be a plain folder (no link) and made ours
// again: owner Administrators and the private descriptor. Empty, with the last-error code set,
// when neither can be had.
std::wstring PrivateFolderParent();

// A run folder "QuorVel-" + 16 random hex digits under its parent. Ownership is known by the
// file "owner.lock" inside, which the owning run holds open without sharing and which the
// system deletes when the run's process ends, however it ends.
class PrivateFolder {
public:
    PrivateFolder() = default;

    // Creates a new folder under |parent| (never one that already exists) and takes its lock.
    // False, with the last-error code set, when that fails.
    bool Create(const std::wstring& parent);

    // The folder's full path without a trailing backslash; empty before Create succeeded.
    const std::wstring& Path() const { return m_path; }

    // Lets go of the lock so that the folder can be removed.
    void ReleaseLock() { m_lock.reset(); }

private:
    std::wstring m_path;
    unique_handle m_lock;
};

// The name run folders start with and the lock file inside them.
inline constexpr wchar_t kRunFolderPrefix[] = L"QuorVel-";
inline constexpr wchar_t kOwnerLockName[] = L"owner.lock";

// Removes the run folders under |parent| that no running process owns: folders of runs that
// ended without cleaning up (a crash, a power cut). Returns how many were removed.
unsigned RemoveAbandonedRunFolders(const std::wstring& parent);
#endif
