#pragma once
// A fresh folder below the system's temporary folder for one test, removed with the object.
#include <filesystem>
#include <string>

class ScratchFolder {
public:
    // |label| goes into the folder's name, beside a part that makes it unique.
    explicit ScratchFolder(const std::string& label);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The same path as the wide string the Windows calls take.
    std::wstring WidePath() const { return m_path.wstring(); }

private:
    std::filesystem::path m_path;
};
