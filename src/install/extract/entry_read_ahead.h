#pragma once
// Decodes small file entries ahead of the extraction loop on helper threads, one per core, so
// that several entries are decoded at once while the loop writes. The helpers take turns at one
// walk over the archive's central directory (through a stream of its own) and each reads the
// local headers and data through a stream of its own; they only fill memory: the loop still
// writes, checks, logs and reports every entry in order, and whatever the helpers hold when the
// loop ends is dropped.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

class DirectoryWalk;
class ZipArchive;
class ZipArchiveEntry;

class EntryReadAhead {
public:
    // Entries up to this size are decoded ahead; larger ones are left to the loop.
    static constexpr std::uint32_t kLargestEntry = 4u << 20;
    // bzip2 entries only up to one block (a block holds at least 900,000 bytes of data): each
    // larger one decodes its blocks on several threads already, and with them in flight at once
    // in every helper, memory would grow with the cores.
    static constexpr std::uint32_t kLargestBzip2Entry = 900000;
    // Decoded data held for the loop at most (besides the entries being decoded), in bytes and
    // in entries: tiny entries would otherwise pile up by the hundred thousand.
    static constexpr std::size_t kMostBytesHeld = 2u << 20;
    static constexpr std::size_t kMostEntriesHeld = 1024;
    // Opens another reader of the package; null when it cannot.
    using SourceOpener = std::function<std::unique_ptr<std::istream>()>;

    // One helper per core (at most four).
    static std::size_t DefaultHelperCount();

    // Starts up to |helpers| helpers, each reading the package through a stream |openSource|
    // gives it; a helper whose stream cannot be opened is not started.
    EntryReadAhead(std::shared_ptr<ZipArchive> archive, const SourceOpener& openSource,
                   std::size_t helpers = DefaultHelperCount());
    ~EntryReadAhead();
    EntryReadAhead(const EntryReadAhead&) = delete;
    EntryReadAhead& operator=(const EntryReadAhead&) = delete;

    // The loop is at entry |index|: its data as a helper decoded it (up to the stored size and
    // one byte more, so that excess shows), waiting for the helper that is decoding it; empty
    // when no helper has decoded it, and then none ever will.
    std::optional<std::string> Take(std::uint32_t index);
    // Waits until the helpers can do no more for now: every entry ahead is decoded or what they
    // hold is at its limit (tests use it to know what the helpers hold).
    void WaitUntilIdle();

private:
    bool StartHelper(std::istream& source);
    void Run(std::istream& source);
    // The first entry from m_next on worth decoding ahead, moving m_next to it; null when none.
    // Under m_mutex.
    std::unique_ptr<ZipArchiveEntry> NextEligible();
    // What the helpers hold is at its limit; a helper that finds it so waits until it is below
    // half of it again, so that helpers and loop wake each other once per many entries.
    bool Full() const;
    bool BelowHalf() const;

    std::shared_ptr<ZipArchive> m_archive;
    std::unique_ptr<std::istream> m_directorySource;
    std::unique_ptr<DirectoryWalk> m_directory;            // under m_mutex
    std::vector<std::unique_ptr<std::istream>> m_sources;  // one per helper
    std::mutex m_mutex;
    std::condition_variable m_room;   // helpers wait on it for room
    std::condition_variable m_ready;  // the loop waits on it for an entry (or for idle helpers)
    std::size_t m_helpersWaiting = 0;
    bool m_loopWaiting = false;
    std::map<std::uint32_t, std::optional<std::string>> m_done;  // empty optional: could not open
    std::size_t m_bytesHeld = 0;
    std::uint32_t m_loopAt = 0;
    std::uint32_t m_next = 0;
    std::set<std::uint32_t> m_decoding;
    std::size_t m_running = 0;  // helpers that have not finished
    bool m_stop = false;
    std::vector<std::thread> m_helpers;  // last: started after everything above exists
};
