#pragma once
// A read-only, seekable byte stream over a file handle that the caller keeps open (and closes).
// Reads go to explicit offsets, so the handle's own file pointer is never used.
#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#include <istream>
#include <streambuf>
#include <vector>

class HandleStreamBuf : public std::streambuf {
public:
    explicit HandleStreamBuf(HANDLE file);

protected:
    int_type underflow() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir from, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    HANDLE m_file;
    std::vector<char> m_buffer;
    std::uint64_t m_next = 0;  // file offset of the byte after the buffered ones
};

class HandleIstream : public std::istream {
public:
    explicit HandleIstream(HANDLE file) : std::istream(nullptr), m_buffer(file) { rdbuf(&m_buffer); }

private:
    HandleStreamBuf m_buffer;
};
#endif
