#pragma once
// Reading back what a sink played: a recorder on the sink's monitor straight on a backend stream
// (monitors are not wave inputs of the API), and the alignment of a played signal with the
// recording.
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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

// Compares played with the recording from lag on, sample for sample within tolerance. On a loaded
// machine the server may glitch: an underrun pauses the stream (the monitor records silence) and a
// rewind of the sink can cost a monitor a few samples. Silence in the recording is skipped, and
// after a sample that differs the comparison picks up again where the next 32 recorded samples
// match played within the following 2048 samples (a resync). Returns how far into played the
// comparison got (played.size() when the recording holds all of it, in order).
struct TMonitorMatch {
    std::size_t matched = 0; // played samples compared equal
    std::size_t reached = 0; // position in played the comparison got to
    std::size_t silence = 0; // recorded samples of silence skipped
    std::size_t skipped = 0; // played samples missing from the recording
    int resyncs = 0;
};
inline TMonitorMatch MatchWithGaps(const std::vector<std::int16_t>& played,
                                   const std::vector<std::int16_t>& rec, std::size_t lag,
                                   int tolerance) {
    constexpr std::size_t kProbe = 32, kWindow = 2048;
    TMonitorMatch m;
    std::size_t i = 0, j = lag;
    auto same = [&](std::size_t p, std::size_t r) {
        return std::abs(played[p] - rec[r]) <= tolerance;
    };
    while (i < played.size() && j < rec.size()) {
        if (same(i, j)) {
            ++i, ++j, ++m.matched;
        } else if (std::abs(rec[j]) <= tolerance) {
            ++j, ++m.silence;
        } else {
            bool found = false;
            for (std::size_t q = i + 1; q <= i + kWindow && q + kProbe <= played.size(); ++q) {
                if (j + kProbe > rec.size()) break;
                bool ok = true;
                for (std::size_t k = 0; k < kProbe && ok; ++k)
                    ok = same(q + k, j + k);
                if (ok) {
                    m.skipped += q - i;
                    i = q;
                    ++m.resyncs;
                    found = true;
                    break;
                }
            }
            if (!found) break;
        }
    }
    m.reached = i;
    return m;
}
