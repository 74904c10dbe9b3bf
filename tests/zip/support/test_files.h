#pragma once
// Files, folders and entry data for the reader and extraction tests.

#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ZipArchive;

// The folder of archives written by independent ZIP writers at test time (QV_ZIP_TEST_DATA).
std::filesystem::path WriterArchivesFolder();

std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);

// Every regular file below |root|, by its '/'-separated relative name.
std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root);

// Everything a stream delivers until its end, read in |chunk|-sized reads.
std::string ReadAll(std::istream& in, std::size_t chunk = 4096);

// The two ways every archive is read: from its file, and from memory in odd small chunks.
enum class ArchiveSource { File, OddChunks };
const char* ToString(ArchiveSource source);
std::shared_ptr<ZipArchive> OpenArchive(const std::filesystem::path& file, ArchiveSource source);
std::shared_ptr<ZipArchive> ArchiveFromBytes(const std::string& bytes, ArchiveSource source = ArchiveSource::OddChunks);
