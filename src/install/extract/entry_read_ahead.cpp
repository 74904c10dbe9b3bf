#include "install/extract/entry_read_ahead.h"

#include <algorithm>

#include "zip/directory_walk.h"
#include "zip/entry_data_chain.h"
#include "zip/methods.h"
#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

// The entry's data, or nothing when its local header or its stream cannot be read.
std::optional<std::string> Decode(ZipArchiveEntry& entry, std::istream& source) {
    if (!entry.LoadLocalHeaderFrom(source)) return std::nullopt;
    const std::unique_ptr<EntryDataChain> chain = entry.OpenDataStreamOn(source);
    if (!chain) return std::nullopt;
    std::istream* data = chain->data;
    const std::size_t wanted = std::size_t(entry.UncompressedSize()) + 1;
    std::string bytes(wanted, '\0');
    std::size_t got = 0;
    while (got < wanted) {
        const std::streamsize count =
            data->rdbuf()->sgetn(bytes.data() + got, static_cast<std::streamsize>(wanted - got));
        if (count <= 0) break;
        got += static_cast<std::size_t>(count);
    }
    bytes.resize(got);
    return bytes;
}

}  // namespace

std::size_t EntryReadAhead::DefaultHelperCount() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
}

EntryReadAhead::EntryReadAhead(std::shared_ptr<ZipArchive> archive, const SourceOpener& openSource, std::size_t helpers)
    : m_archive(std::move(archive)) {
    if (!m_archive || !openSource || m_archive->EntryCount() < 2) return;
    try {
        m_directorySource = openSource();
        if (!m_directorySource) return;
        m_directory = std::make_unique<DirectoryWalk>(*m_archive, *m_directorySource);
        for (std::size_t i = 0; i < helpers; ++i) {
            std::unique_ptr<std::istream> source = openSource();
            if (!source) return;
            m_sources.push_back(std::move(source));
            if (!StartHelper(*m_sources.back())) return;
        }
    } catch (const std::exception&) {  // no memory for another reader: the helpers started do the work
    }
}

bool EntryReadAhead::StartHelper(std::istream& source) {
    // Held while the thread starts: its first lock waits, so it is counted before it can finish.
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        m_helpers.emplace_back([this, &source] { Run(source); });
    } catch (const std::exception&) {  // no thread: the others (or the loop) decode the rest
        return false;
    }
    ++m_running;
    return true;
}

EntryReadAhead::~EntryReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
    m_ready.notify_all();
    for (std::thread& helper : m_helpers) helper.join();
}

std::unique_ptr<ZipArchiveEntry> EntryReadAhead::NextEligible() {
    const auto count = static_cast<std::uint32_t>(m_archive->EntryCount());
    for (; m_next < count; ++m_next) {
        std::unique_ptr<ZipArchiveEntry> entry;
        try {
            entry = m_directory->Read(m_next);
        } catch (const std::exception&) {  // the directory no longer reads: the loop will say so
            m_next = count;
            return nullptr;
        }
        const std::uint64_t largest =
            entry->MethodId() == MethodIdOf(Bzip2MethodDescriptor()) ? kLargestBzip2Entry : kLargestEntry;
        if (!entry->IsDirectoryEntry() && entry->UncompressedSize() > 0 && entry->UncompressedSize() <= largest &&
            !entry->UnreadableReason())
            return entry;
    }
    return nullptr;
}

bool EntryReadAhead::Full() const {
    return m_bytesHeld >= kMostBytesHeld || m_done.size() + m_decoding.size() >= kMostEntriesHeld;
}

bool EntryReadAhead::BelowHalf() const {
    return m_bytesHeld < kMostBytesHeld / 2 && m_done.size() + m_decoding.size() < kMostEntriesHeld / 2;
}

void EntryReadAhead::Run(std::istream& source) {
    for (;;) {
        std::uint32_t index = 0;
        std::unique_ptr<ZipArchiveEntry> entry;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (Full()) {
                ++m_helpersWaiting;
                m_ready.notify_all();  // for WaitUntilIdle
                m_room.wait(lock, [&] { return m_stop || BelowHalf(); });
                --m_helpersWaiting;
            }
            // Work ahead of the loop, never on the entry it is at.
            m_next = std::max(m_next, m_loopAt + 1);
            if (!m_stop) entry = NextEligible();
            if (!entry) {
                --m_running;
                m_ready.notify_all();
                return;
            }
            index = m_next++;
            m_decoding.insert(index);
        }
        std::optional<std::string> data;
        try {
            data = Decode(*entry, source);
        } catch (const std::exception&) {  // no memory for it: the loop decodes it itself
        }
        entry.reset();
        bool loopWaits = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bytesHeld += data ? data->size() : 0;
            m_done[index] = std::move(data);
            m_decoding.erase(index);
            loopWaits = m_loopWaiting;
        }
        if (loopWaits) m_ready.notify_all();
    }
}

std::optional<std::string> EntryReadAhead::Take(std::uint32_t index) {
    if (m_helpers.empty()) return std::nullopt;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_loopAt = index;
    // Entries the loop has passed are of no use any more.
    for (auto it = m_done.begin(); it != m_done.end() && it->first < index;) {
        m_bytesHeld -= it->second ? it->second->size() : 0;
        it = m_done.erase(it);
    }
    m_loopWaiting = true;
    m_ready.wait(lock, [&] { return m_decoding.count(index) == 0; });
    m_loopWaiting = false;
    std::optional<std::string> data;
    const auto found = m_done.find(index);
    if (found != m_done.end()) {
        data = std::move(found->second);
        m_bytesHeld -= data ? data->size() : 0;
        m_done.erase(found);
    }
    const bool room = m_helpersWaiting > 0 && BelowHalf();
    lock.unlock();
    if (room) m_room.notify_all();
    return data;
}

void EntryReadAhead::WaitUntilIdle() {
    if (m_helpers.empty()) return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_loopWaiting = true;
    m_ready.wait(lock, [&] { return m_running == 0 || (m_decoding.empty() && m_helpersWaiting == m_running); });
    m_loopWaiting = false;
}
