#pragma once
// Decodes small file entries ahead of the extraction loop on a second thread, so that two
// entries are decoded at once. The helper shares the loop's archive directory (read once) but
// reads the package through a stream of its own, and only fills memory: the loop still writes,
// checks, logs and reports every entry in order, and whatever the helper holds when the loop
// ends is dropped. Every entry's local header must have been read before (FindOverlappingEntries
// does that): the helper reads entries, it never changes them.

#include <condition_variable>
#include <istream>
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
    static constexpr std::size_t kMostBytesHeld = 2u << 20;

    // Starts the helper reading |source| (a second reader of the package); does nothing when
    // either is null.
    EntryReadAhead(std::shared_ptr<ZipArchive> archive, std::unique_ptr<std::istream> source);
    ~EntryReadAhead();
    EntryReadAhead(const EntryReadAhead&) = delete;
    EntryReadAhead& operator=(const EntryReadAhead&) = delete;

    // The loop is at entry |index|: its data as the helper decoded it (up to the stored size and
    // one byte more, so that excess shows), waiting for the helper when it is decoding it; empty
    // when the helper has not decoded it, and then never will.
    std::optional<std::string> Take(std::uint32_t index);
    // Waits until the helper can do no more for now: every entry ahead is decoded or the held
    // bytes are at their limit (tests use it to know what the helper holds).
    void WaitUntilIdle();

private:
    void Run();
    bool Eligible(std::uint32_t index) const;

    std::shared_ptr<ZipArchive> m_archive;
    std::unique_ptr<std::istream> m_source;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::uint32_t, std::optional<std::string>> m_done;  // empty optional: could not open
    std::size_t m_bytesHeld = 0;
    std::uint32_t m_loopAt = 0;
    std::uint32_t m_next = 0;
    std::optional<std::uint32_t> m_decoding;
    bool m_stop = false;
    bool m_finished = false;
    std::thread m_helper;  // last: started after everything above exists
};
