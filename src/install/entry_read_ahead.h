#pragma once
// Decodes small file entries ahead of the extraction loop on a second thread, so that two
// entries are decoded at once. The helper reads the package through an archive of its own (an
// archive belongs to one thread) and only fills memory: the loop still writes, checks, logs and
// reports every entry in order, and whatever the helper holds when the loop ends is dropped.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class ZipArchive;

class EntryReadAhead {
public:
    // Entries up to this size are decoded ahead; larger ones are left to the loop.
    static constexpr std::uint32_t kLargestEntry = 4u << 20;
    // Decoded data held for the loop at most (besides the entry being decoded).
    static constexpr std::size_t kMostBytesHeld = 8u << 20;

    // Starts the helper on its own archive; does nothing when |archive| is null.
    explicit EntryReadAhead(std::shared_ptr<ZipArchive> archive);
    ~EntryReadAhead();
    EntryReadAhead(const EntryReadAhead&) = delete;
    EntryReadAhead& operator=(const EntryReadAhead&) = delete;

    // The loop is at entry |index|: its data as the helper decoded it (up to the stored size and
    // one byte more, so that excess shows), waiting for the helper when it is decoding it; empty
    // when the helper has not decoded it, and then never will.
    std::optional<std::string> Take(std::uint32_t index);

private:
    void Run();
    bool Eligible(std::uint32_t index) const;

    std::shared_ptr<ZipArchive> m_archive;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::uint32_t, std::optional<std::string>> m_done;  // empty optional: could not open
    std::size_t m_bytesHeld = 0;
    std::uint32_t m_loopAt = 0;
    std::uint32_t m_next = 0;
    std::optional<std::uint32_t> m_decoding;
    bool m_stop = false;
    std::thread m_helper;  // last: started after everything above exists
};
