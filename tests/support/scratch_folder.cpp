#include "scratch_folder.h"

#include <atomic>
#include <chrono>
#include <system_error>

#ifdef _WIN32
#include "install/run_folder/cleanup.h"
#endif

namespace fs = std::filesystem;

namespace {

// The program's own removal on Windows: it never follows a link out of the folder and takes
// read-only files too.
void RemoveTree(const fs::path& folder) {
#ifdef _WIN32
    RemoveFolderTree(folder.wstring());
#else
    std::error_code ignored;
    fs::remove_all(folder, ignored);
#endif
}

}  // namespace

ScratchFolder::ScratchFolder(const std::string& label) {
    static std::atomic<unsigned> counter{0};
    const auto unique =
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" + std::to_string(counter++);
    m_path = fs::temp_directory_path() / ("qv_" + label + "_" + unique);
    RemoveTree(m_path);
    fs::create_directories(m_path);
}

ScratchFolder::~ScratchFolder() { RemoveTree(m_path); }
