#pragma once
// Method 12: bzip2 over libbzip2. The stream is cut at its block boundaries (bzip2_blocks.h) and
// the blocks are decoded by a few helper threads at once, each as a stream of its own that
// libbzip2 checks by its CRC; the caller's thread reads the source, cuts the blocks, helps with
// the oldest block when no helper has taken it, and hands the data out in order.
//
// Memory stays bounded whatever the entry's size: at most kMostBlocksInFlight blocks are held,
// each with its compressed bytes, libbzip2's state and an output window of kBlockOutput bytes
// (a block that decodes to more, such as a run of zeros, waits until the window is read). A
// block that fails is retried a bounded number of times, then the rest is decoded as one
// stream. Nothing here throws: allocation failures end the data early like corrupt data.

#include <bzlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "zip/bzip2_blocks.h"
#include "zip/compression_interface.h"
#include "zip/scratch_buffer.h"

struct bzip2_decoder_properties : decoder_properties_basic {};

namespace bzip2_detail {

constexpr std::size_t kMostHelpers = 4;
constexpr std::size_t kBlockOutput = std::size_t(1) << 20;

// One block on its way through libbzip2. Its output window is written by whoever runs it and
// read by the caller's thread, never both at once (the state says whose turn it is).
struct BlockJob {
    enum class State { Waiting, Running, Full, Done, Failed };

    explicit BlockJob(std::string blockStream) : stream(std::move(blockStream)) {}
    BlockJob(const BlockJob&) = delete;
    BlockJob& operator=(const BlockJob&) = delete;
    ~BlockJob() { EndCodec(); }

    // Decodes until the output window is full or the block has ended; returns the new state.
    State Run() {
        if (!started) {
            started = true;
            if (BZ2_bzDecompressInit(&codec, 0, 0) != BZ_OK) return State::Failed;
            initialised = true;
            codec.next_in = stream.data();
            codec.avail_in = static_cast<unsigned int>(stream.size());
            output = ScratchBuffer(kBlockOutput);
        }
        if (!initialised) return State::Failed;
        while (filled < output.size()) {
            codec.next_out = output.data() + filled;
            codec.avail_out = static_cast<unsigned int>(output.size() - filled);
            const unsigned int roomBefore = codec.avail_out;
            const int result = BZ2_bzDecompress(&codec);
            filled = output.size() - codec.avail_out;
            if (result == BZ_STREAM_END) return Finish(State::Done);
            if (result != BZ_OK || (codec.avail_in == 0 && codec.avail_out == roomBefore)) return Finish(State::Failed);
        }
        return State::Full;
    }

    State Finish(State outcome) {
        EndCodec();
        std::string().swap(stream);
        return outcome;
    }

    void EndCodec() {
        if (initialised) BZ2_bzDecompressEnd(&codec);
        initialised = false;
    }

    std::string stream;
    bz_stream codec{};
    bool started = false;
    bool initialised = false;
    ScratchBuffer output;
    std::size_t filled = 0;
    std::size_t read = 0;
    State state = State::Waiting;
};

}  // namespace bzip2_detail

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_bzip2_decoder final : public compression_decoder_interface<CharT, Traits> {
    using Job = bzip2_detail::BlockJob;
    using State = Job::State;

public:
    using source_type = typename compression_decoder_interface<CharT, Traits>::source_type;

    basic_bzip2_decoder() = default;
    basic_bzip2_decoder(const basic_bzip2_decoder&) = delete;
    basic_bzip2_decoder& operator=(const basic_bzip2_decoder&) = delete;
    ~basic_bzip2_decoder() override {
        StopHelpers();
        EndFallback();
    }

    bool is_ready() const override { return !m_output.empty(); }
    std::uint64_t bytes_consumed() const override { return m_consumed; }
    std::uint64_t bytes_produced() const override { return m_produced; }
    CharT* output_begin() override { return m_output.data(); }
    CharT* output_end() override { return m_output.data() + m_lastOutput; }

    void attach(source_type& source, const decoder_properties_basic& properties) override {
        StopHelpers();
        m_jobs.clear();
        EndFallback();
        m_source = &source;
        m_consumed = m_produced = 0;
        m_lastOutput = 0;
        m_capacity = EffectiveCapacity(properties);
        m_input.assign(m_capacity, CharT());
        m_output.assign(m_capacity, CharT());
        m_splitter = Bzip2BlockSplitter{};
        m_inputEnded = m_failed = m_fallback = m_fallbackEnded = false;
        const unsigned cores = std::thread::hardware_concurrency();
        m_helperCount = std::clamp<std::size_t>(cores == 0 ? 1 : cores, 1, bzip2_detail::kMostHelpers);
        m_mostInFlight = m_helperCount + 1;
    }
    void attach(source_type& source) override { attach(source, bzip2_decoder_properties{}); }

    std::size_t decode_step() override {
        m_lastOutput = 0;
        if (!m_source || m_failed) return 0;
        try {
            m_lastOutput = m_fallback ? FallbackStep() : PipelineStep();
        } catch (...) {  // no memory for a block or a thread: the data ends here
            m_failed = true;
            m_lastOutput = 0;
        }
        m_produced += m_lastOutput;
        return m_lastOutput;
    }

private:
    // Hands out the next piece of the oldest block, cutting and queueing blocks as needed.
    std::size_t PipelineStep() {
        for (;;) {
            const Bzip2BlockSplitter::Next next = FillPipeline();
            if (m_jobs.empty()) {
                if (next != Bzip2BlockSplitter::Next::Blocked) return 0;  // the stream has ended
                StartFallback();
                return FallbackStep();
            }
            Job& oldest = *m_jobs.front();
            const State state = AwaitOldest(oldest);
            if (oldest.read < oldest.filled) return HandOut(oldest, state);
            if (state == State::Done) {
                DropOldest();
                m_splitter.OldestDecoded();
                continue;
            }
            // Failed. Data already handed out cannot be taken back: the entry ends here.
            const bool handedOut = oldest.read > 0;
            DropAll();
            if (handedOut) {
                m_failed = true;
                return 0;
            }
            if (!m_splitter.OldestFailed()) {
                StartFallback();
                return FallbackStep();
            }
        }
    }

    // Queues blocks until enough are in flight or none can be cut yet; reads the source as needed.
    Bzip2BlockSplitter::Next FillPipeline() {
        for (;;) {
            const Bzip2BlockSplitter::Next next = m_splitter.Status();
            if (next == Bzip2BlockSplitter::Next::NeedInput) {
                if (m_inputEnded) return Bzip2BlockSplitter::Next::Blocked;
                ReadInput();
                continue;
            }
            if (next != Bzip2BlockSplitter::Next::Ready || m_jobs.size() >= m_mostInFlight) return next;
            auto job = std::make_unique<Job>(m_splitter.Take());
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_jobs.push_back(std::move(job));
            }
            if (m_jobs.size() > 1) StartHelpers();
            m_changed.notify_all();
        }
    }

    // Waits until the oldest block has output to hand out or has ended; runs it here when no
    // helper has taken it.
    State AwaitOldest(Job& oldest) {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (oldest.state == State::Full || oldest.state == State::Done || oldest.state == State::Failed)
                return oldest.state;
            if (oldest.state == State::Waiting) {
                oldest.state = State::Running;
                lock.unlock();
                const State result = oldest.Run();
                lock.lock();
                oldest.state = result;
                continue;
            }
            m_changed.wait(lock);
        }
    }

    std::size_t HandOut(Job& oldest, State state) {
        const std::size_t count = std::min(m_capacity, oldest.filled - oldest.read);
        std::copy(oldest.output.data() + oldest.read, oldest.output.data() + oldest.read + count, m_output.data());
        oldest.read += count;
        if (oldest.read == oldest.filled && state == State::Full) {
            std::lock_guard<std::mutex> lock(m_mutex);
            oldest.read = oldest.filled = 0;
            oldest.state = State::Waiting;  // room again: decoding the block goes on
        }
        return count;
    }

    void DropOldest() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.pop_front();
    }

    // Every queued block is given back; waits for helpers still running one.
    void DropAll() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] {
            return std::none_of(m_jobs.begin(), m_jobs.end(),
                                [](const auto& job) { return job->state == State::Running; });
        });
        m_jobs.clear();
    }

    void StartHelpers() {
        if (!m_helpers.empty() || m_helperCount == 0) return;
        m_stop = false;
        for (std::size_t i = 0; i < m_helperCount; ++i) {
            try {
                m_helpers.emplace_back([this] { HelperLoop(); });
            } catch (...) {  // fewer helpers (or none: the caller's thread decodes alone)
                break;
            }
        }
        m_helperCount = m_helpers.size();
    }

    void StopHelpers() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread& helper : m_helpers) helper.join();
        m_helpers.clear();
    }

    // Runs the earliest waiting block (the caller's thread takes the oldest itself when it gets
    // there first), until told to stop.
    void HelperLoop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            Job* job = nullptr;
            m_changed.wait(lock, [&] {
                if (m_stop) return true;
                for (auto& queued : m_jobs)
                    if (queued->state == State::Waiting) return (job = queued.get()) != nullptr;
                return false;
            });
            if (m_stop) return;
            job->state = State::Running;
            lock.unlock();
            State result = State::Failed;
            try {
                result = job->Run();
            } catch (...) {
            }
            lock.lock();
            job->state = result;
            m_changed.notify_all();
        }
    }

    void ReadInput() {
        const std::size_t count = ReadBlock(*m_source, m_input.data(), m_capacity);
        m_consumed += count;
        m_splitter.Append(reinterpret_cast<const char*>(m_input.data()), count);
        if (count < m_capacity) {
            m_inputEnded = true;
            m_splitter.EndInput();
        }
    }

    // Sequential decoding of the rest, from the oldest block on, as one libbzip2 stream.
    void StartFallback() {
        StopHelpers();
        m_fallback = true;
        m_fallbackInput = m_splitter.FallbackBytes();
        m_fallbackStream = bz_stream{};
        m_fallbackInitialised = BZ2_bzDecompressInit(&m_fallbackStream, 0, 0) == BZ_OK;
        m_fallbackEnded = !m_fallbackInitialised;
        m_fallbackStream.next_in = m_fallbackInput.data();
        m_fallbackStream.avail_in = static_cast<unsigned int>(m_fallbackInput.size());
    }

    std::size_t FallbackStep() {
        while (!m_fallbackEnded) {
            if (m_fallbackStream.avail_in == 0 && !m_inputEnded) {
                ReadInput();
                m_fallbackInput = m_splitter.FallbackBytes();
                m_fallbackStream.next_in = m_fallbackInput.data();
                m_fallbackStream.avail_in = static_cast<unsigned int>(m_fallbackInput.size());
            }
            m_fallbackStream.next_out = m_output.data();
            m_fallbackStream.avail_out = static_cast<unsigned int>(m_capacity);
            const unsigned int inputBefore = m_fallbackStream.avail_in;
            const int result = BZ2_bzDecompress(&m_fallbackStream);
            const std::size_t produced = m_capacity - m_fallbackStream.avail_out;
            // The end marker's combined CRC covers the blocks before the fallback too, so its
            // check may fail here after the last byte; the entry's CRC-32 decides.
            const bool stalled = m_inputEnded && m_fallbackStream.avail_in == inputBefore && produced == 0;
            if (result != BZ_OK || stalled) m_fallbackEnded = true;
            if (produced > 0) return produced;
        }
        EndFallback();
        return 0;
    }

    void EndFallback() {
        if (m_fallbackInitialised) BZ2_bzDecompressEnd(&m_fallbackStream);
        m_fallbackInitialised = false;
    }

    source_type* m_source = nullptr;
    std::size_t m_capacity = 0;
    std::vector<CharT> m_input;
    std::vector<CharT> m_output;
    std::size_t m_lastOutput = 0;
    std::uint64_t m_consumed = 0;
    std::uint64_t m_produced = 0;
    bool m_inputEnded = false;
    bool m_failed = false;
    Bzip2BlockSplitter m_splitter;

    std::size_t m_helperCount = 1;
    std::size_t m_mostInFlight = 2;
    std::deque<std::unique_ptr<Job>> m_jobs;  // in block order; guarded by m_mutex while helpers run
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;
    std::vector<std::thread> m_helpers;

    bool m_fallback = false;
    bool m_fallbackEnded = false;
    bool m_fallbackInitialised = false;
    bz_stream m_fallbackStream{};
    std::string m_fallbackInput;
};

using bzip2_decoder = basic_bzip2_decoder<char>;
