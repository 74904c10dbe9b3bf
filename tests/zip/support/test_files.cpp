#include "test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "memory_stream.h"
#include "zip/zip_archive.h"

namespace fs = std::filesystem;

fs::path WriterArchivesFolder() {
    const char* folder = std::getenv("QV_ZIP_TEST_DATA");
    if (!folder || !*folder) {
        ADD_FAILURE() << "QV_ZIP_TEST_DATA is not set: run the tests through ctest";
        return {};
    }
    return fs::path(folder);
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::map<std::string, std::string> FilesBelow(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.is_regular_file())
            files[fs::relative(item.path(), root).generic_u8string()] = ReadFileBytes(item.path());
    return files;
}

std::string ReadAll(std::istream& in, std::size_t chunk) {
    std::string all;
    std::string block(chunk, '\0');
    while (in.read(block.data(), static_cast<std::streamsize>(chunk)) || in.gcount() > 0)
        all.append(block.data(), static_cast<std::size_t>(in.gcount()));
    return all;
}

const char* ToString(ArchiveSource source) {
    return source == ArchiveSource::File ? "file stream" : "odd-chunk stream";
}

std::shared_ptr<ZipArchive> ArchiveFromBytes(const std::string& bytes, ArchiveSource source) {
    // In memory, a "file stream" is the same file-like buffer without the odd chunks.
    const auto chunks = source == ArchiveSource::File ? std::vector<std::size_t>{} : std::vector<std::size_t>{1, 7, 31};
    auto stream = std::make_unique<MemoryFileStream>(bytes, chunks);
    return ZipArchive::FromStream(stream.release(), true);
}

std::shared_ptr<ZipArchive> OpenArchive(const fs::path& file, ArchiveSource source) {
    if (source == ArchiveSource::File) return ZipArchive::OpenFromFile(file.wstring());
    return ArchiveFromBytes(ReadFileBytes(file), ArchiveSource::OddChunks);
}
