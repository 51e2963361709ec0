// The API layer over a minimal hand-made backend: what it does itself, whatever the backend.
#include "platform/AudioTestSupport.h"
#include "platform/api/AudioBackend.h"

#include <gtest/gtest.h>

using conformance::Buffer;
using conformance::CallbackRecorder;
using conformance::Pcm;

namespace {

// One output whose position the test sets and whose buffers finish when the test says so.
struct FakeOut : IWaveOutStream {
    IWaveEvents* events = nullptr;
    std::uint64_t frames = 0;
    std::vector<WAVEHDR*> queue;
    MMRESULT Write(WAVEHDR* h) override {
        queue.push_back(h);
        return MMSYSERR_NOERROR;
    }
    MMRESULT Pause() override { return MMSYSERR_NOERROR; }
    MMRESULT Restart() override { return MMSYSERR_NOERROR; }
    MMRESULT Reset() override {
        Finish();
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetPosition(std::uint64_t* f) override {
        *f = frames;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetDeviceId(UINT* id) override {
        *id = 0;
        return MMSYSERR_NOERROR;
    }
    void Close() override { Finish(); }
    void Finish() {
        auto q = std::move(queue);
        queue.clear();
        for (auto* h : q)
            events->BufferDone(h);
    }
};

struct FakeBackend : IAudioBackend {
    FakeOut* out = nullptr;
    bool forgetStream = false;
    UINT WaveOutCount() override { return 1; }
    MMRESULT OpenWaveOut(UINT id, const WAVEFORMATEX&, DWORD flags, IWaveEvents* events,
                         std::unique_ptr<IWaveOutStream>* stream) override {
        if (id != 0) return MMSYSERR_BADDEVICEID;
        if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
        if (forgetStream) return MMSYSERR_NOERROR; // a faulty backend: success without a stream
        auto s = std::make_unique<FakeOut>();
        s->events = events;
        out = s.get();
        *stream = std::move(s);
        return MMSYSERR_NOERROR;
    }
};

class ApiLayer : public ::testing::Test {
protected:
    ApiLayer() {
        auto b = std::make_unique<FakeBackend>();
        backend_ = b.get();
        installed_ = std::make_unique<ScopedAudioBackend>(std::move(b));
    }
    FakeBackend* backend_;
    std::unique_ptr<ScopedAudioBackend> installed_;
};

TEST_F(ApiLayer, PositionsWrapAt32Bits) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(44100, 2, 16);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    backend_->out->frames = (std::uint64_t{1} << 32) + 5;
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    ASSERT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 5u);
    backend_->out->frames = (std::uint64_t{1} << 30) + 5; // 2^32 + 20 bytes
    t.wType = TIME_BYTES;
    ASSERT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.cb, 20u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(ApiLayer, FlagsAndQueueCountAreKeptAboveTheBackend) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 8);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer a(10);
    a.hdr.dwFlags = WHDR_DONE; // left over from an earlier round
    ASSERT_EQ(waveOutPrepareHeader(h, &a.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &a.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_EQ(waveOutWrite(h, &a.hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING); // queued once only
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
    backend_->out->Finish();
    EXPECT_EQ(a.hdr.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(rec.Count(MM_WOM_DONE), 1u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(ApiLayer, SuccessWithoutAStreamIsAnError) {
    backend_->forgetStream = true;
    const WAVEFORMATEX f = Pcm(8000, 1, 8);
    HWAVEOUT h = reinterpret_cast<HWAVEOUT>(0x1);
    EXPECT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_ERROR);
    EXPECT_EQ(h, nullptr);
}

TEST_F(ApiLayer, DefaultBackendPartsAnswerNothingHere) {
    // The fake offers no input, mixers, aux or MIDI: the interface's defaults answer.
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(mixerGetNumDevs(), 0u);
    WAVEINCAPSA caps{};
    EXPECT_EQ(waveInGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NODRIVER);
    HMIXER m = nullptr;
    EXPECT_EQ(mixerOpen(&m, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    AUXCAPSA aux{};
    EXPECT_EQ(auxGetDevCapsA(0, &aux, sizeof aux), MMSYSERR_NODRIVER);
    // Without a device there is no mapper: a bad id (which a device's Mapper reads as "none"),
    // not a failure of the sound system.
    EXPECT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(auxGetDevCapsA(static_cast<UINT_PTR>(-1), &aux, sizeof aux), MMSYSERR_BADDEVICEID);
    MIDIOUTCAPSA midiOut{};
    EXPECT_EQ(midiOutGetDevCapsA(WAVE_MAPPER, &midiOut, sizeof midiOut), MMSYSERR_BADDEVICEID);
    MIDIINCAPSA midiIn{};
    EXPECT_EQ(midiInGetDevCapsA(WAVE_MAPPER, &midiIn, sizeof midiIn), MMSYSERR_BADDEVICEID);
    UINT id = 0;
    EXPECT_EQ(mixerGetID(nullptr, &id, MIXER_OBJECTF_WAVEOUT), MMSYSERR_NODRIVER);
    EXPECT_EQ(id, static_cast<UINT>(-1));
}

} // namespace
