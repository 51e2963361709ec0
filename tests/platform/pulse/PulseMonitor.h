#pragma once
// Reading back what a sink played: a recorder on the sink's monitor straight on a backend stream
// (monitors are not wave inputs of the API), and the alignment of a played signal with the
// recording.
#include "platform/AudioBackend.h"
#include "platform/mmsystem.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct Buffer {
    explicit Buffer(std::size_t bytes) : data(bytes) {
        hdr.lpData = data.data();
        hdr.dwBufferLength = static_cast<DWORD>(bytes);
    }
    std::vector<char> data;
    WAVEHDR hdr{};
};

// Keeps recording into a ring of buffers and collects every sample (16-bit mono), straight on a
// backend stream (no API handle): used for sources the API does not list, such as monitors.
class Collector : public IWaveEvents {
public:
    explicit Collector(std::size_t bufferBytes, int buffers = 8) {
        for (int i = 0; i < buffers; ++i)
            ring_.push_back(std::make_unique<Buffer>(bufferBytes));
    }
    void Start(IWaveInStream* stream) {
        stream_ = stream;
        for (auto& b : ring_)
            stream_->AddBuffer(&b->hdr);
        stream_->Start();
    }
    void BufferDone(WAVEHDR* h) override {
        {
            std::lock_guard g(lock_);
            const auto* s = reinterpret_cast<const std::int16_t*>(h->lpData);
            samples_.insert(samples_.end(), s, s + h->dwBytesRecorded / 2);
        }
        h->dwBytesRecorded = 0;
        if (!stopping_) stream_->AddBuffer(h);
    }
    void Stop() {
        stopping_ = true;
        stream_->Reset();
        stream_->Close();
    }
    std::size_t Size() const {
        std::lock_guard g(lock_);
        return samples_.size();
    }
    std::vector<std::int16_t> Samples() const {
        std::lock_guard g(lock_);
        return samples_;
    }

private:
    std::vector<std::unique_ptr<Buffer>> ring_;
    IWaveInStream* stream_ = nullptr;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::vector<std::int16_t> samples_;
};

// Where the played signal starts in the recording: the lag whose first `probe` samples correlate
// best with the start of played (-1 when nothing correlates).
inline std::ptrdiff_t AlignSamples(const std::vector<std::int16_t>& played,
                                   const std::vector<std::int16_t>& rec, std::size_t probe = 2048) {
    probe = std::min(probe, played.size());
    double best = 0;
    std::ptrdiff_t lag = -1;
    for (std::size_t l = 0; l + played.size() <= rec.size(); ++l) {
        double dot = 0;
        for (std::size_t i = 0; i < probe; ++i)
            dot += static_cast<double>(played[i]) * rec[l + i];
        if (dot > best) best = dot, lag = static_cast<std::ptrdiff_t>(l);
    }
    return lag;
}
