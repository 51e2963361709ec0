#include "app/PageChecks.h"

#include "audio/display/AvUtils.h"

#include <cmath>

namespace {
constexpr int kListenRate = 8000;
constexpr int kListenBuffers = 10;
constexpr int kListenBufferSamples = kListenRate / 10; // 100 ms
constexpr int kPlaybackRate = 16000;                   // clear enough for a voice
constexpr int kPollMs = 50;
} // namespace

// ---- TEchoListener ---------------------------------------------------------------------------

TEchoListener::TEchoListener(QObject* parent) : QObject(parent) {
    FTimer.setInterval(kPollMs);
    connect(&FTimer, &QTimer::timeout, this, &TEchoListener::Poll);
}

TEchoListener::~TEchoListener() {
    Stop();
}

bool TEchoListener::Start(UINT microphone, const TPcm16Sound& sound) {
    Stop();
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, 16, 1, kListenRate);
    if (waveInOpen(&FIn, microphone, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        FIn = nullptr;
        return false;
    }
    FMono = sound.Mono;
    FRate = sound.Rate;
    FWanted = TEchoDetector(FMono, FRate, kListenRate).WantedSamples();
    FData.assign(kListenBuffers, std::vector<std::int16_t>(kListenBufferSamples));
    FHeaders.assign(kListenBuffers, WAVEHDR{});
    for (int b = 0; b < kListenBuffers; ++b) {
        FHeaders[b].lpData = reinterpret_cast<LPSTR>(FData[b].data());
        FHeaders[b].dwBufferLength = kListenBufferSamples * 2;
        waveInPrepareHeader(FIn, &FHeaders[b], sizeof(WAVEHDR));
        waveInAddBuffer(FIn, &FHeaders[b], sizeof(WAVEHDR));
    }
    FNext = 0;
    FRecorded = 0;
    FStretch.clear();
    waveInStart(FIn);
    FTimer.start();
    return true;
}

void TEchoListener::Stop() {
    FTimer.stop();
    if (FIn) {
        waveInReset(FIn);
        for (auto& h : FHeaders)
            waveInUnprepareHeader(FIn, &h, sizeof(WAVEHDR));
        waveInClose(FIn);
        FIn = nullptr;
    }
    // A search still running finishes on its own data; its result is dropped.
    if (FWork.valid()) FWork.wait();
    FWork = {};
}

void TEchoListener::Poll() {
    if (FWork.valid() && FWork.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        const TEchoResult result = FWork.get();
        if (OnResult) OnResult(result); // may stop this listener
        if (!FIn) return;
    }
    while (FIn && (FHeaders[FNext].dwFlags & WHDR_DONE)) {
        WAVEHDR& h = FHeaders[FNext];
        const auto* s = reinterpret_cast<const std::int16_t*>(h.lpData);
        FStretch.insert(FStretch.end(), s, s + h.dwBytesRecorded / 2);
        waveInAddBuffer(FIn, &h, sizeof(WAVEHDR));
        FNext = (FNext + 1) % kListenBuffers;
        if (FStretch.size() < FWanted || FWork.valid()) continue;
        // The sound loops: this stretch began that far into it, so the search starts from there.
        const double into =
            std::fmod(double(FRecorded) / kListenRate, double(FMono.size()) / FRate);
        const auto at = std::min(FMono.size(), static_cast<std::size_t>(into * FRate));
        std::vector<std::int16_t> reference(FMono.begin() + at, FMono.end());
        reference.insert(reference.end(), FMono.begin(), FMono.begin() + at);
        std::vector<std::int16_t> stretch(FStretch.begin(), FStretch.begin() + FWanted);
        FRecorded += FStretch.size();
        FStretch.clear();
        FWork = std::async(std::launch::async, [reference = std::move(reference),
                                                stretch = std::move(stretch), rate = FRate] {
            return TEchoDetector(reference, rate, kListenRate).Find(stretch);
        });
    }
    if (FIn) {
        MMTIME t{};
        t.wType = TIME_BYTES;
        if (waveInGetPosition(FIn, &t, sizeof t) != MMSYSERR_NOERROR) Stop(); // device gone
    }
}

// ---- TPlaybackTest ---------------------------------------------------------------------------

TPlaybackTest::TPlaybackTest(QObject* parent) : QObject(parent) {
    FTimer.setInterval(kPollMs);
    connect(&FTimer, &QTimer::timeout, this, &TPlaybackTest::Poll);
}

TPlaybackTest::~TPlaybackTest() {
    FTimer.stop();
    if (FIn) {
        waveInReset(FIn);
        waveInUnprepareHeader(FIn, &FHeader, sizeof(WAVEHDR));
        waveInClose(FIn);
    }
    if (FOut) {
        waveOutReset(FOut);
        waveOutUnprepareHeader(FOut, &FHeader, sizeof(WAVEHDR));
        waveOutClose(FOut);
    }
}

bool TPlaybackTest::Start(UINT microphone, UINT speaker, QString* problem) {
    Stop();
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, 16, 1, kPlaybackRate);
    if (MMRESULT r = waveInOpen(&FIn, microphone, &f, 0, 0, CALLBACK_NULL)) {
        char text[MAXERRORLENGTH] = {};
        waveInGetErrorTextA(r, text, sizeof text);
        *problem = QStringLiteral("WaveInOpen: ") + QString::fromUtf8(text);
        FIn = nullptr;
        return false;
    }
    FSpeaker = speaker;
    FSamples.assign(static_cast<std::size_t>(Seconds) * kPlaybackRate, 0);
    FHeader = WAVEHDR{};
    FHeader.lpData = reinterpret_cast<LPSTR>(FSamples.data());
    FHeader.dwBufferLength = static_cast<DWORD>(FSamples.size() * 2);
    waveInPrepareHeader(FIn, &FHeader, sizeof(WAVEHDR));
    waveInAddBuffer(FIn, &FHeader, sizeof(WAVEHDR));
    waveInStart(FIn);
    FPhase = phRecording;
    FTimer.start();
    if (OnProgress) OnProgress(FPhase, 0, {});
    return true;
}

void TPlaybackTest::Stop() {
    if (FPhase == phIdle) return;
    Finish({});
}

void TPlaybackTest::Finish(const QString& problem) {
    FTimer.stop();
    if (FIn) {
        waveInReset(FIn);
        waveInUnprepareHeader(FIn, &FHeader, sizeof(WAVEHDR));
        waveInClose(FIn);
        FIn = nullptr;
    }
    if (FOut) {
        waveOutReset(FOut);
        waveOutUnprepareHeader(FOut, &FHeader, sizeof(WAVEHDR));
        waveOutClose(FOut);
        FOut = nullptr;
    }
    FPhase = phIdle;
    if (OnProgress) OnProgress(FPhase, 0, problem);
}

void TPlaybackTest::Poll() {
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    if (FPhase == phRecording) {
        if (!(FHeader.dwFlags & WHDR_DONE)) {
            if (waveInGetPosition(FIn, &t, sizeof t) != MMSYSERR_NOERROR) {
                Finish(QStringLiteral("WaveInGetPosition: the device has gone"));
                return;
            }
            if (OnProgress) OnProgress(FPhase, double(t.u.sample) / kPlaybackRate, {});
            return;
        }
        const DWORD recorded = FHeader.dwBytesRecorded;
        waveInUnprepareHeader(FIn, &FHeader, sizeof(WAVEHDR));
        waveInClose(FIn);
        FIn = nullptr;
        WAVEFORMATEX f{};
        BuildPcmFormat(&f, 16, 1, kPlaybackRate);
        if (MMRESULT r = waveOutOpen(&FOut, FSpeaker, &f, 0, 0, CALLBACK_NULL)) {
            char text[MAXERRORLENGTH] = {};
            waveOutGetErrorTextA(r, text, sizeof text);
            FOut = nullptr;
            Finish(QStringLiteral("WaveOutOpen: ") + QString::fromUtf8(text));
            return;
        }
        FHeader = WAVEHDR{};
        FHeader.lpData = reinterpret_cast<LPSTR>(FSamples.data());
        FHeader.dwBufferLength = recorded;
        waveOutPrepareHeader(FOut, &FHeader, sizeof(WAVEHDR));
        waveOutWrite(FOut, &FHeader, sizeof(WAVEHDR));
        FPhase = phPlaying;
        if (OnProgress) OnProgress(FPhase, 0, {});
        return;
    }
    if (FPhase == phPlaying) {
        if (FHeader.dwFlags & WHDR_DONE) {
            Finish({});
            return;
        }
        if (waveOutGetPosition(FOut, &t, sizeof t) != MMSYSERR_NOERROR) {
            Finish(QStringLiteral("WaveOutGetPosition: the device has gone"));
            return;
        }
        if (OnProgress) OnProgress(FPhase, double(t.u.sample) / kPlaybackRate, {});
    }
}
