#include "install/entry_read_ahead.h"

#include "zip/zip_archive.h"
#include "zip/zip_archive_entry.h"

namespace {

// The entry's data, or nothing when its stream cannot be opened.
std::optional<std::string> Decode(ZipArchiveEntry& entry) {
    std::istream* data = entry.OpenDataStream();
    if (!data) return std::nullopt;
    const std::size_t wanted = std::size_t(entry.UncompressedSize()) + 1;
    std::string bytes(wanted, '\0');
    std::size_t got = 0;
    while (got < wanted) {
        const std::streamsize count = data->rdbuf()->sgetn(bytes.data() + got, static_cast<std::streamsize>(wanted - got));
        if (count <= 0) break;
        got += static_cast<std::size_t>(count);
    }
    bytes.resize(got);
    entry.ReleaseDataStreams();
    return bytes;
}

}  // namespace

EntryReadAhead::EntryReadAhead(std::shared_ptr<ZipArchive> archive) : m_archive(std::move(archive)) {
    if (m_archive && m_archive->EntryCount() > 1) m_helper = std::thread([this] { Run(); });
}

EntryReadAhead::~EntryReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_helper.joinable()) m_helper.join();
}

bool EntryReadAhead::Eligible(std::uint32_t index) const {
    const auto entry = m_archive->EntryAt(index);
    return !entry->IsDirectoryEntry() && entry->UncompressedSize() > 0 && entry->UncompressedSize() <= kLargestEntry;
}

void EntryReadAhead::Run() {
    const auto count = static_cast<std::uint32_t>(m_archive->EntryCount());
    for (;;) {
        std::uint32_t index = 0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            // Work ahead of the loop, never on the entry it is at.
            m_changed.wait(lock, [&] { return m_stop || m_bytesHeld < kMostBytesHeld; });
            m_next = std::max(m_next, m_loopAt + 1);
            while (m_next < count && !Eligible(m_next)) ++m_next;
            if (m_stop || m_next >= count) return;
            index = m_next++;
            m_decoding = index;
        }
        std::optional<std::string> data = Decode(*m_archive->EntryAt(index));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bytesHeld += data ? data->size() : 0;
            m_done[index] = std::move(data);
            m_decoding.reset();
        }
        m_changed.notify_all();
    }
}

std::optional<std::string> EntryReadAhead::Take(std::uint32_t index) {
    if (!m_helper.joinable()) return std::nullopt;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_loopAt = index;
    // Entries the loop has passed are of no use any more.
    for (auto it = m_done.begin(); it != m_done.end() && it->first < index;) {
        m_bytesHeld -= it->second ? it->second->size() : 0;
        it = m_done.erase(it);
    }
    m_changed.wait(lock, [&] { return m_decoding != index; });
    std::optional<std::string> data;
    const auto found = m_done.find(index);
    if (found != m_done.end()) {
        data = std::move(found->second);
        m_bytesHeld -= data ? data->size() : 0;
        m_done.erase(found);
    }
    lock.unlock();
    m_changed.notify_all();
    return data;
}
