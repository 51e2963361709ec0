#pragma once
// The behaviour every audio backend owes the multimedia API, written against the API functions.
// A test program includes this header once and instantiates the suite with its harness:
//
//   INSTANTIATE_TEST_SUITE_P(Sim, AudioConformance, ::testing::Values(&MakeSimHarness));
//
// The harness makes the backend and lets audio time pass (the simulation advances its clock; a
// real sound server is waited for, always with a deadline).
#include "AudioTestSupport.h"
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"
#include "platform/api/windef.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace conformance {

class Harness {
public:
    virtual ~Harness() = default;
    virtual std::unique_ptr<IAudioBackend> MakeBackend() = 0;
    // Lets ms of audio time pass.
    virtual void Let(std::uint32_t ms) = 0;
    // Lets time pass until pred holds, at most maxMs of audio time; returns pred().
    virtual bool WaitFor(const std::function<bool()>& pred, std::uint32_t maxMs) {
        for (std::uint32_t t = 0; t < maxMs && !pred(); t += 5)
            Let(5);
        return pred();
    }
    // Whether positions follow the audio exactly (a simulation) or only roughly (a server).
    virtual bool ExactTiming() const { return false; }
    // Optional: hot-plug and faults. False: not supported, the test is skipped.
    virtual bool RemoveCard(const std::string& /*name*/) { return false; }
    virtual bool AddCard(const std::string& /*name*/) { return false; }
    virtual bool InjectOpenFault(UINT /*outputId*/, MMRESULT /*code*/) { return false; }
};
using HarnessFactory = std::unique_ptr<Harness> (*)();

class AudioConformance : public ::testing::TestWithParam<HarnessFactory> {
protected:
    void SetUp() override {
        harness_ = GetParam()();
        installed_ = std::make_unique<ScopedAudioBackend>(harness_->MakeBackend());
    }
    void TearDown() override { installed_.reset(); }
    Harness& H() { return *harness_; }

    // Opens wave output 0 with a callback function.
    HWAVEOUT OpenOut(CallbackRecorder& rec, const WAVEFORMATEX& f) {
        HWAVEOUT h = nullptr;
        EXPECT_EQ(waveOutOpen(&h, 0, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        return h;
    }
    HWAVEIN OpenIn(CallbackRecorder& rec, const WAVEFORMATEX& f) {
        HWAVEIN h = nullptr;
        EXPECT_EQ(waveInOpen(&h, 0, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        return h;
    }
    DWORD PositionSamples(HWAVEOUT h) {
        MMTIME t{};
        t.wType = TIME_SAMPLES;
        EXPECT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
        EXPECT_EQ(t.wType, TIME_SAMPLES);
        return t.u.sample;
    }

    // Finds the first line of a component type on mixer 0.
    MIXERLINEA LineOfType(DWORD type) {
        MIXERLINEA l{};
        l.cbStruct = sizeof l;
        l.dwComponentType = type;
        EXPECT_EQ(
            mixerGetLineInfoA(nullptr, &l, MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_COMPONENTTYPE),
            MMSYSERR_NOERROR);
        return l;
    }
    MMRESULT ControlOfType(DWORD lineId, DWORD type, MIXERCONTROLA* c) {
        return conformance::ControlOfType(nullptr, MIXER_OBJECTF_MIXER, lineId, type, c);
    }
    MMRESULT Details(DWORD controlId, DWORD channels, DWORD items, std::vector<LONG>& v, bool set,
                     HMIXEROBJ obj = nullptr, DWORD objFlag = MIXER_OBJECTF_MIXER) {
        v.resize(std::max<DWORD>(items, 1) * channels);
        return conformance::ControlValues(obj, objFlag, controlId, channels, items, v, set);
    }

    std::unique_ptr<Harness> harness_;
    std::unique_ptr<ScopedAudioBackend> installed_;
};

// ---- Wave output
// ----------------------------------------------------------------------------------

TEST_P(AudioConformance, WaveOutCapsFillOnlyWhatFitsAndRefuseBadIds) {
    ASSERT_GE(waveOutGetNumDevs(), 1u);
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_GT(std::strlen(caps.szPname), 0u);
    EXPECT_LT(std::strlen(caps.szPname), MAXPNAMELEN);
    EXPECT_GE(caps.wChannels, 1);

    // The 41-byte common head the device components pass: nothing beyond it is written.
    std::uint8_t head[64];
    std::memset(head, 0xAB, sizeof head);
    ASSERT_EQ(waveOutGetDevCapsA(0, reinterpret_cast<WAVEOUTCAPSA*>(head), 41), MMSYSERR_NOERROR);
    EXPECT_EQ(std::memcmp(head, &caps, 41), 0);
    EXPECT_EQ(head[41], 0xAB);

    EXPECT_EQ(waveOutGetDevCapsA(waveOutGetNumDevs(), &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutGetDevCapsA(static_cast<UINT_PTR>(-1), &caps, sizeof caps), MMSYSERR_NOERROR);
}

TEST_P(AudioConformance, FormatQueryChecksWithoutOpening) {
    const WAVEFORMATEX good = Pcm(44100, 2, 16);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInOpen(nullptr, 0, &good, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    WAVEFORMATEX bad = good;
    bad.nBlockAlign = 3; // does not match channels and bits
    EXPECT_EQ(waveOutOpen(nullptr, 0, &bad, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    bad = good;
    bad.wFormatTag = 0x55;
    EXPECT_EQ(waveOutOpen(nullptr, 0, &bad, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    HWAVEOUT h = reinterpret_cast<HWAVEOUT>(0x1);
    EXPECT_EQ(waveOutOpen(&h, 0, &bad, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(waveOutOpen(&h, waveOutGetNumDevs() + 3, &good, 0, 0, CALLBACK_NULL),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&h, 0, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&h, 0, &good, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&h, 0, &good, 0, 0, CALLBACK_EVENT), MMSYSERR_INVALFLAG);
}

TEST_P(AudioConformance, FunctionCallbacksOpenDoneInOrderAndClose) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = OpenOut(rec, f);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(rec.Count(MM_WOM_OPEN), 1u);
    EXPECT_EQ(rec.Calls(MM_WOM_OPEN)[0].handle, reinterpret_cast<HDRVR>(h));
    EXPECT_EQ(rec.Calls(MM_WOM_OPEN)[0].instance, rec.Instance());

    std::vector<std::unique_ptr<Buffer>> bufs;
    const conformance::CloseAtExit closeH(h);
    for (int i = 0; i < 3; ++i) {
        bufs.push_back(std::make_unique<Buffer>(800)); // 50 ms each
        ASSERT_EQ(waveOutPrepareHeader(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_TRUE(bufs[i]->hdr.dwFlags & WHDR_PREPARED);
        ASSERT_EQ(waveOutWrite(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    EXPECT_TRUE(bufs[2]->hdr.dwFlags & WHDR_INQUEUE);
    ASSERT_TRUE(H().WaitFor([&] { return rec.Count(MM_WOM_DONE) == 3; }, 2000));
    auto done = rec.Calls(MM_WOM_DONE);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(done[i].p1, reinterpret_cast<DWORD_PTR>(&bufs[i]->hdr)) << "buffer " << i;
        EXPECT_TRUE(bufs[i]->hdr.dwFlags & WHDR_DONE);
        EXPECT_FALSE(bufs[i]->hdr.dwFlags & WHDR_INQUEUE);
        EXPECT_EQ(waveOutUnprepareHeader(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.Count(MM_WOM_CLOSE), 1u);
    EXPECT_EQ(rec.Calls().back().msg, MM_WOM_CLOSE);
}

TEST_P(AudioConformance, WindowCallbacksPostHandleAndHeader) {
    MessageRecorder win;
    const WAVEFORMATEX f = Pcm(11025, 2, 8);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, reinterpret_cast<DWORD_PTR>(win.Hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    Buffer a(1102, 128), b(1102, 128);
    const conformance::CloseAtExit closeH(h);
    for (Buffer* x : {&a, &b}) {
        ASSERT_EQ(waveOutPrepareHeader(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(H().WaitFor([&] { return win.Messages(MM_WOM_DONE).size() == 2; }, 2000));
    auto done = win.Messages(MM_WOM_DONE);
    EXPECT_EQ(done[0].wParam, reinterpret_cast<WPARAM>(h));
    EXPECT_EQ(done[0].lParam, reinterpret_cast<LPARAM>(&a.hdr));
    EXPECT_EQ(done[1].lParam, reinterpret_cast<LPARAM>(&b.hdr));
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    auto all = win.Messages();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all.front().msg, MM_WOM_OPEN);
    EXPECT_EQ(all.back().msg, MM_WOM_CLOSE);
}

TEST_P(AudioConformance, PositionInSamplesAndBytes) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 2, 16);
    HWAVEOUT h = OpenOut(rec, f);
    Buffer buf(3200); // 800 frames, 100 ms
    const conformance::CloseAtExit closeH(h);
    ASSERT_EQ(waveOutPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(PositionSamples(h), 0u);
    ASSERT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(H().WaitFor([&] { return rec.Count(MM_WOM_DONE) == 1; }, 2000));
    EXPECT_EQ(PositionSamples(h), 800u);
    MMTIME t{};
    t.wType = TIME_BYTES;
    ASSERT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_BYTES);
    EXPECT_EQ(t.u.cb, 3200u);
    t.wType = TIME_MS; // not offered: answered in bytes
    ASSERT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.wType, TIME_BYTES);
    EXPECT_EQ(t.u.cb, 3200u);
    EXPECT_EQ(waveOutGetPosition(h, nullptr, sizeof t), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutGetPosition(h, &t, 4), MMSYSERR_INVALPARAM);
    UINT id = 99;
    EXPECT_EQ(waveOutGetID(h, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(waveOutGetID(h, nullptr), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_P(AudioConformance, PauseHoldsAndRestartResumes) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = OpenOut(rec, f);
    ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR); // queue silently, as the wave output does
    Buffer buf(1600);                             // 100 ms
    const conformance::CloseAtExit closeH(h);
    ASSERT_EQ(waveOutPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    H().Let(300);
    EXPECT_EQ(rec.Count(MM_WOM_DONE), 0u);
    EXPECT_EQ(PositionSamples(h), 0u);
    ASSERT_EQ(waveOutRestart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(H().WaitFor([&] { return rec.Count(MM_WOM_DONE) == 1; }, 2000));
    EXPECT_EQ(PositionSamples(h), 800u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_P(AudioConformance, ResetEndsAPause) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = OpenOut(rec, f);
    ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
    Buffer a(1600), b(1600); // 100 ms each
    const conformance::CloseAtExit closeH(h);
    for (Buffer* x : {&a, &b})
        ASSERT_EQ(waveOutPrepareHeader(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &a.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.Count(MM_WOM_DONE), 1u);
    // After the reset the device plays what it is given, without a restart.
    ASSERT_EQ(waveOutWrite(h, &b.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_TRUE(H().WaitFor([&] { return rec.Count(MM_WOM_DONE) == 2; }, 2000));
    EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_P(AudioConformance, ResetReturnsEveryQueuedBufferAndRewinds) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = OpenOut(rec, f);
    std::vector<std::unique_ptr<Buffer>> bufs;
    const conformance::CloseAtExit closeH(h);
    for (int i = 0; i < 4; ++i) {
        bufs.push_back(std::make_unique<Buffer>(16000)); // 1 s each
        ASSERT_EQ(waveOutPrepareHeader(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    H().Let(100);
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(h, &bufs[0]->hdr, sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    // Every buffer is back, in order, when Reset returns.
    auto done = rec.Calls(MM_WOM_DONE);
    ASSERT_EQ(done.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(done[i].p1, reinterpret_cast<DWORD_PTR>(&bufs[i]->hdr));
        EXPECT_EQ(bufs[i]->hdr.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    }
    EXPECT_EQ(PositionSamples(h), 0u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_P(AudioConformance, HeaderAndHandleMisuseGetThePlatformCodes) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 8);
    HWAVEOUT h = OpenOut(rec, f);
    Buffer buf(100);
    EXPECT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR) - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutPrepareHeader(h, nullptr, sizeof(WAVEHDR)), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveOutPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(h, &buf.hdr, 8), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);

    // A closed handle is refused by every call, never used.
    EXPECT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPause(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
    MMTIME t{};
    EXPECT_EQ(waveOutGetPosition(h, &t, sizeof t), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPause(reinterpret_cast<HWAVEOUT>(0x12345678)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPause(nullptr), MMSYSERR_INVALHANDLE);
    // A wave input handle is not a wave output handle.
    HWAVEIN in = OpenIn(rec, f);
    EXPECT_EQ(waveOutPause(reinterpret_cast<HWAVEOUT>(in)), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

TEST_P(AudioConformance, ErrorTexts) {
    char text[MAXERRORLENGTH];
    EXPECT_EQ(waveOutGetErrorTextA(MMSYSERR_NODRIVER, text, sizeof text), MMSYSERR_NOERROR);
    EXPECT_GT(std::strlen(text), 0u);
    EXPECT_EQ(waveInGetErrorTextA(WAVERR_BADFORMAT, text, sizeof text), MMSYSERR_NOERROR);
    EXPECT_GT(std::strlen(text), 0u);
    char small[8];
    EXPECT_EQ(waveOutGetErrorTextA(MMSYSERR_ALLOCATED, small, sizeof small), MMSYSERR_NOERROR);
    EXPECT_EQ(std::strlen(small), 7u); // cut, still terminated
    EXPECT_EQ(waveOutGetErrorTextA(500, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_EQ(waveOutGetErrorTextA(0, nullptr, 10), MMSYSERR_INVALPARAM);
    // The command interface's texts are its own: mixer codes are not among them.
    EXPECT_FALSE(mciGetErrorStringA(MIXERR_INVALLINE, text, sizeof text));
    EXPECT_TRUE(mciGetErrorStringA(MCIERR_BASE + 1, text, sizeof text));
}

// ---- Wave input
// -----------------------------------------------------------------------------------

TEST_P(AudioConformance, WaveInFillsBuffersInOrder) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 2, 16);
    HWAVEIN h = OpenIn(rec, f);
    ASSERT_EQ(rec.Count(MM_WIM_OPEN), 1u);
    std::vector<std::unique_ptr<Buffer>> bufs;
    const conformance::CloseAtExit closeH(h);
    for (int i = 0; i < 3; ++i) {
        bufs.push_back(std::make_unique<Buffer>(2000));
        ASSERT_EQ(waveInPrepareHeader(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    H().Let(200);
    EXPECT_EQ(rec.Count(MM_WIM_DATA), 0u); // not started
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(H().WaitFor([&] { return rec.Count(MM_WIM_DATA) == 3; }, 3000));
    auto data = rec.Calls(MM_WIM_DATA);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(data[i].p1, reinterpret_cast<DWORD_PTR>(&bufs[i]->hdr));
        EXPECT_EQ(bufs[i]->hdr.dwBytesRecorded, 2000u);
        EXPECT_EQ(bufs[i]->hdr.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    }
    MMTIME t{};
    t.wType = TIME_SAMPLES;
    ASSERT_EQ(waveInGetPosition(h, &t, sizeof t), MMSYSERR_NOERROR);
    EXPECT_EQ(t.u.sample, 1500u);
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.Calls().back().msg, MM_WIM_CLOSE);
}

TEST_P(AudioConformance, WaveInStopReturnsThePartBufferAndResetTheRest) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEIN h = OpenIn(rec, f);
    Buffer a(16000), b(16000); // 1 s each
    const conformance::CloseAtExit closeH(h);
    for (Buffer* x : {&a, &b}) {
        ASSERT_EQ(waveInPrepareHeader(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    H().Let(250);
    ASSERT_EQ(waveInStop(h), MMSYSERR_NOERROR);
    ASSERT_EQ(rec.Count(MM_WIM_DATA), 1u);
    EXPECT_GT(a.hdr.dwBytesRecorded, 0u);
    EXPECT_LT(a.hdr.dwBytesRecorded, 16000u);
    EXPECT_EQ(a.hdr.dwBytesRecorded % 2, 0u); // whole frames
    if (H().ExactTiming()) {
        EXPECT_EQ(a.hdr.dwBytesRecorded, 4000u);
    }
    EXPECT_TRUE(b.hdr.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveInClose(h), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    ASSERT_EQ(rec.Count(MM_WIM_DATA), 2u);
    EXPECT_EQ(b.hdr.dwBytesRecorded, 0u);
    EXPECT_EQ(b.hdr.dwFlags & (WHDR_DONE | WHDR_INQUEUE), WHDR_DONE);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

// ---- Mixer
// ----------------------------------------------------------------------------------------

TEST_P(AudioConformance, MixerCapsAndNoMixerMapper) {
    ASSERT_GE(mixerGetNumDevs(), 1u);
    MIXERCAPSA caps{};
    ASSERT_EQ(mixerGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_GE(caps.cDestinations, 1u);
    EXPECT_GT(std::strlen(caps.szPname), 0u);
    EXPECT_EQ(mixerGetDevCapsA(static_cast<UINT_PTR>(-1), &caps, sizeof caps),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixerGetDevCapsA(mixerGetNumDevs(), &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixerGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
}

TEST_P(AudioConformance, EveryLineInfoQueryFindsTheSameLines) {
    MIXERCAPSA caps{};
    ASSERT_EQ(mixerGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    for (DWORD d = 0; d < caps.cDestinations; ++d) {
        MIXERLINEA dst{};
        dst.cbStruct = sizeof dst;
        dst.dwDestination = d;
        ASSERT_EQ(mixerGetLineInfoA(nullptr, &dst, MIXER_GETLINEINFOF_DESTINATION),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(dst.dwDestination, d);
        EXPECT_FALSE(dst.fdwLine & MIXERLINE_LINEF_SOURCE);
        EXPECT_LE(dst.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_LAST);
        for (DWORD s = 0; s < dst.cConnections; ++s) {
            MIXERLINEA src{};
            src.cbStruct = sizeof src;
            src.dwDestination = d;
            src.dwSource = s;
            ASSERT_EQ(mixerGetLineInfoA(nullptr, &src, MIXER_GETLINEINFOF_SOURCE),
                      MMSYSERR_NOERROR);
            EXPECT_TRUE(src.fdwLine & MIXERLINE_LINEF_SOURCE);
            EXPECT_EQ(src.dwDestination, d);
            EXPECT_EQ(src.dwSource, s);
            EXPECT_GE(src.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_FIRST);
            // By id gives the same line.
            MIXERLINEA byId{};
            byId.cbStruct = sizeof byId;
            byId.dwLineID = src.dwLineID;
            ASSERT_EQ(mixerGetLineInfoA(nullptr, &byId, MIXER_GETLINEINFOF_LINEID),
                      MMSYSERR_NOERROR);
            EXPECT_STREQ(byId.szName, src.szName);
            EXPECT_EQ(byId.dwSource, s);
        }
        MIXERLINEA bad = dst;
        bad.dwSource = dst.cConnections;
        EXPECT_EQ(mixerGetLineInfoA(nullptr, &bad, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_INVALPARAM);
    }
    MIXERLINEA l{};
    l.cbStruct = sizeof l;
    l.dwDestination = caps.cDestinations;
    EXPECT_EQ(mixerGetLineInfoA(nullptr, &l, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALPARAM);
    l.dwLineID = 0x7777;
    EXPECT_EQ(mixerGetLineInfoA(nullptr, &l, MIXER_GETLINEINFOF_LINEID), MIXERR_INVALLINE);
    l.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE + 0x100;
    EXPECT_EQ(mixerGetLineInfoA(nullptr, &l, MIXER_GETLINEINFOF_COMPONENTTYPE), MIXERR_INVALLINE);
    EXPECT_EQ(mixerGetLineInfoA(nullptr, &l, 0x9), MMSYSERR_INVALFLAG);
    l.cbStruct = sizeof l - 4;
    EXPECT_EQ(mixerGetLineInfoA(nullptr, &l, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerGetLineInfoA(nullptr, nullptr, 0), MMSYSERR_INVALPARAM);
    l.cbStruct = sizeof l;
    EXPECT_EQ(
        mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(99), &l, MIXER_GETLINEINFOF_DESTINATION),
        MMSYSERR_BADDEVICEID);
}

TEST_P(AudioConformance, LineByTargetIsTheWaveOutputsLine) {
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    UINT mx = 99;
    ASSERT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(0), &mx, MIXER_OBJECTF_WAVEOUT),
              MMSYSERR_NOERROR);
    MIXERLINEA l{};
    l.cbStruct = sizeof l;
    l.Target.dwType = MIXERLINE_TARGETTYPE_WAVEOUT;
    l.Target.wMid = caps.wMid;
    l.Target.wPid = caps.wPid;
    l.Target.vDriverVersion = caps.vDriverVersion;
    std::memcpy(l.Target.szPname, caps.szPname, sizeof caps.szPname);
    ASSERT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(static_cast<std::uintptr_t>(mx)), &l,
                                MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_TARGETTYPE),
              MMSYSERR_NOERROR);
    EXPECT_EQ(l.Target.dwType, MIXERLINE_TARGETTYPE_WAVEOUT);
    EXPECT_EQ(l.Target.dwDeviceID, 0u);
    l.Target.szPname[0] ^= 0x20;
    EXPECT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(static_cast<std::uintptr_t>(mx)), &l,
                                MIXER_OBJECTF_MIXER | MIXER_GETLINEINFOF_TARGETTYPE),
              MIXERR_INVALLINE);
}

TEST_P(AudioConformance, ControlsByIdByTypeAndAll) {
    MIXERLINEA spk = LineOfType(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    ASSERT_GE(spk.cControls, 1u);
    std::vector<MIXERCONTROLA> all(spk.cControls);
    MIXERLINECONTROLSA lc{};
    lc.cbStruct = sizeof lc;
    lc.dwLineID = spk.dwLineID;
    lc.cControls = spk.cControls;
    lc.cbmxctrl = sizeof(MIXERCONTROLA);
    lc.pamxctrl = all.data();
    ASSERT_EQ(mixerGetLineControlsA(nullptr, &lc, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_NOERROR);
    for (auto& c : all) {
        EXPECT_EQ(c.cbStruct, sizeof(MIXERCONTROLA));
        MIXERCONTROLA one{};
        MIXERLINECONTROLSA q{};
        q.cbStruct = sizeof q;
        q.dwControlID = c.dwControlID;
        q.cControls = 1;
        q.cbmxctrl = sizeof one;
        q.pamxctrl = &one;
        ASSERT_EQ(mixerGetLineControlsA(nullptr, &q, MIXER_GETLINECONTROLSF_ONEBYID),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(q.dwLineID, spk.dwLineID); // the owner line is reported
        EXPECT_EQ(one.dwControlType, c.dwControlType);
        EXPECT_STREQ(one.szName, c.szName);
    }
    MIXERCONTROLA vol{};
    ASSERT_EQ(ControlOfType(spk.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &vol), MMSYSERR_NOERROR);
    EXPECT_EQ(vol.Bounds.dwMinimum, 0u);
    EXPECT_EQ(vol.Bounds.dwMaximum, 0xFFFFu);
    EXPECT_EQ(vol.Metrics.cSteps, 100u); // 1 % each: a mixer slider's range is 0..100
    MIXERCONTROLA none{};
    EXPECT_EQ(ControlOfType(spk.dwLineID, MIXERCONTROL_CONTROLTYPE_BASS, &none),
              MIXERR_INVALCONTROL);
    EXPECT_EQ(ControlOfType(0x7777, MIXERCONTROL_CONTROLTYPE_VOLUME, &none), MIXERR_INVALLINE);
    lc.cControls = spk.cControls + 1;
    EXPECT_EQ(mixerGetLineControlsA(nullptr, &lc, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_INVALPARAM);
    lc.cControls = spk.cControls;
    lc.cbmxctrl = sizeof(MIXERCONTROLA) - 4;
    EXPECT_EQ(mixerGetLineControlsA(nullptr, &lc, MIXER_GETLINECONTROLSF_ALL), MMSYSERR_INVALPARAM);
    lc.cbmxctrl = sizeof(MIXERCONTROLA);
    lc.dwControlID = 0x7777777;
    lc.cControls = 1;
    EXPECT_EQ(mixerGetLineControlsA(nullptr, &lc, MIXER_GETLINECONTROLSF_ONEBYID),
              MIXERR_INVALCONTROL);
}

TEST_P(AudioConformance, VolumeDetailsPerChannelAsOneAndClamped) {
    MIXERLINEA spk = LineOfType(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    ASSERT_EQ(spk.cChannels, 2u);
    MIXERCONTROLA vol{};
    ASSERT_EQ(ControlOfType(spk.dwLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &vol), MMSYSERR_NOERROR);
    std::vector<LONG> v{10000, 40000};
    ASSERT_EQ(Details(vol.dwControlID, 2, 0, v, true), MMSYSERR_NOERROR);
    std::vector<LONG> r;
    ASSERT_EQ(Details(vol.dwControlID, 2, 0, r, false), MMSYSERR_NOERROR);
    EXPECT_EQ(r, (std::vector<LONG>{10000, 40000}));
    // All channels as one: the loudest is read, one value written to every channel.
    ASSERT_EQ(Details(vol.dwControlID, 1, 0, r, false), MMSYSERR_NOERROR);
    EXPECT_EQ(r[0], 40000);
    v = {0x20000}; // above the bounds: clamped
    ASSERT_EQ(Details(vol.dwControlID, 1, 0, v, true), MMSYSERR_NOERROR);
    ASSERT_EQ(Details(vol.dwControlID, 2, 0, r, false), MMSYSERR_NOERROR);
    EXPECT_EQ(r, (std::vector<LONG>{0xFFFF, 0xFFFF}));
    // Wrong shapes.
    EXPECT_EQ(Details(vol.dwControlID, 3, 0, r, false), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Details(vol.dwControlID, 2, 2, r, false), MMSYSERR_INVALPARAM);
    EXPECT_EQ(Details(0x7777777, 1, 0, r, false), MIXERR_INVALCONTROL);
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d - 1;
    EXPECT_EQ(mixerGetControlDetailsA(nullptr, &d, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerGetControlDetailsA(nullptr, nullptr, 0), MMSYSERR_INVALPARAM);
    // Meters are read-only.
    MIXERLINEA wave = LineOfType(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    MIXERCONTROLA peak{};
    if (ControlOfType(wave.dwLineID, MIXERCONTROL_CONTROLTYPE_PEAKMETER, &peak) ==
        MMSYSERR_NOERROR) {
        ASSERT_EQ(Details(peak.dwControlID, wave.cChannels, 0, r, false), MMSYSERR_NOERROR);
        EXPECT_EQ(Details(peak.dwControlID, wave.cChannels, 0, r, true), MMSYSERR_NOTSUPPORTED);
    }
}

TEST_P(AudioConformance, RecordingListItemsNameTheSourcesAndSelectOne) {
    MIXERLINEA rec = LineOfType(MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    MIXERCONTROLA list{};
    bool mux = ControlOfType(rec.dwLineID, MIXERCONTROL_CONTROLTYPE_MUX, &list) == MMSYSERR_NOERROR;
    if (!mux) {
        ASSERT_EQ(ControlOfType(rec.dwLineID, MIXERCONTROL_CONTROLTYPE_MIXER, &list),
                  MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(list.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE);
    const DWORD n = list.cMultipleItems;
    ASSERT_GE(n, 2u);
    std::vector<MIXERCONTROLDETAILS_LISTTEXTA> texts(n);
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = list.dwControlID;
    d.cChannels = 1;
    d.cMultipleItems = n;
    d.cbDetails = sizeof(MIXERCONTROLDETAILS_LISTTEXTA);
    d.paDetails = texts.data();
    ASSERT_EQ(mixerGetControlDetailsA(nullptr, &d, MIXER_GETCONTROLDETAILSF_LISTTEXT),
              MMSYSERR_NOERROR);
    for (DWORD i = 0; i < n; ++i) {
        MIXERLINEA src{};
        src.cbStruct = sizeof src;
        src.dwLineID = texts[i].dwParam1; // the source line the item selects
        ASSERT_EQ(mixerGetLineInfoA(nullptr, &src, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
        EXPECT_EQ(src.dwDestination, rec.dwDestination);
        EXPECT_STREQ(src.szName, texts[i].szName);
    }
    std::vector<LONG> v(n, 0);
    v[n - 1] = 1;
    ASSERT_EQ(Details(list.dwControlID, 1, n, v, true), MMSYSERR_NOERROR);
    std::vector<LONG> r;
    ASSERT_EQ(Details(list.dwControlID, 1, n, r, false), MMSYSERR_NOERROR);
    EXPECT_EQ(r[n - 1], 1);
    if (mux) {
        // Setting another item leaves exactly that one selected.
        std::vector<LONG> w = r;
        w[0] = 1;
        ASSERT_EQ(Details(list.dwControlID, 1, n, w, true), MMSYSERR_NOERROR);
        ASSERT_EQ(Details(list.dwControlID, 1, n, r, false), MMSYSERR_NOERROR);
        EXPECT_EQ(std::count(r.begin(), r.end(), 1), 1);
        EXPECT_EQ(r[0], 1);
    }
    EXPECT_EQ(Details(list.dwControlID, 1, 0, r, false), MMSYSERR_INVALPARAM); // items required
}

TEST_P(AudioConformance, ControlChangesPostToEveryOpenHandleInOrder) {
    MessageRecorder w1, w2, w3;
    HMIXER a = nullptr, b = nullptr, c = nullptr;
    ASSERT_EQ(mixerOpen(&a, 0, reinterpret_cast<DWORD_PTR>(w1.Hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    ASSERT_EQ(mixerOpen(&b, 0, reinterpret_cast<DWORD_PTR>(w2.Hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    ASSERT_EQ(mixerOpen(&c, 0, reinterpret_cast<DWORD_PTR>(w3.Hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    ASSERT_EQ(mixerClose(c), MMSYSERR_NOERROR);
    MIXERLINEA spk = LineOfType(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    MIXERCONTROLA mute{};
    ASSERT_EQ(ControlOfType(spk.dwLineID, MIXERCONTROL_CONTROLTYPE_MUTE, &mute), MMSYSERR_NOERROR);
    std::vector<LONG> v{1};
    ASSERT_EQ(Details(mute.dwControlID, 1, 0, v, true, reinterpret_cast<HMIXEROBJ>(b),
                      MIXER_OBJECTF_HMIXER),
              MMSYSERR_NOERROR);
    ASSERT_TRUE(H().WaitFor([&] { return !w1.Messages(MM_MIXM_CONTROL_CHANGE).empty(); }, 1000));
    ASSERT_TRUE(H().WaitFor([&] { return !w2.Messages(MM_MIXM_CONTROL_CHANGE).empty(); }, 1000));
    auto m1 = w1.Messages(MM_MIXM_CONTROL_CHANGE);
    auto m2 = w2.Messages(MM_MIXM_CONTROL_CHANGE);
    EXPECT_EQ(m1.back().wParam, reinterpret_cast<WPARAM>(a));
    EXPECT_EQ(m1.back().lParam, static_cast<LPARAM>(mute.dwControlID));
    EXPECT_EQ(m2.back().wParam, reinterpret_cast<WPARAM>(b));
    EXPECT_TRUE(w3.Messages().empty()); // closed before the change
    std::vector<LONG> r;
    ASSERT_EQ(Details(mute.dwControlID, 1, 0, r, false, reinterpret_cast<HMIXEROBJ>(a),
                      MIXER_OBJECTF_HMIXER),
              MMSYSERR_NOERROR);
    EXPECT_EQ(r[0], 1);
    v = {0};
    ASSERT_EQ(Details(mute.dwControlID, 1, 0, v, true), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(a), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(b), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerClose(b), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Details(mute.dwControlID, 1, 0, r, false, reinterpret_cast<HMIXEROBJ>(a),
                      MIXER_OBJECTF_HMIXER),
              MMSYSERR_INVALHANDLE);
}

TEST_P(AudioConformance, MixerOpenChecksItsArguments) {
    HMIXER h = reinterpret_cast<HMIXER>(0x1);
    EXPECT_EQ(mixerOpen(&h, mixerGetNumDevs(), 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(mixerOpen(nullptr, 0, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerOpen(&h, 0, 0x1234, 0, CALLBACK_FUNCTION), MMSYSERR_INVALFLAG);
    EXPECT_EQ(mixerOpen(&h, 0, 0x99999, 0, CALLBACK_WINDOW), MMSYSERR_INVALPARAM); // no window
    ASSERT_EQ(mixerOpen(&h, 0, 0, 0, MIXER_OBJECTF_WAVEOUT), MMSYSERR_NOERROR);    // by wave id
    UINT id = 99;
    EXPECT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(h), &id, MIXER_OBJECTF_HMIXER),
              MMSYSERR_NOERROR);
    UINT byWave = 98;
    EXPECT_EQ(mixerGetID(nullptr, &byWave, MIXER_OBJECTF_WAVEOUT), MMSYSERR_NOERROR);
    EXPECT_EQ(id, byWave);
    EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
}

TEST_P(AudioConformance, MixerIdOfDevicesAndHandles) {
    UINT id = 99;
    EXPECT_EQ(mixerGetID(nullptr, &id, MIXER_OBJECTF_MIXER), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(mixerGetID(nullptr, &id, MIXER_OBJECTF_WAVEIN), MMSYSERR_NOERROR);
    EXPECT_LT(id, mixerGetNumDevs());
    EXPECT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(static_cast<std::uintptr_t>(WAVE_MAPPER)), &id,
                         MIXER_OBJECTF_WAVEOUT),
              MMSYSERR_NOERROR);
    EXPECT_EQ(
        mixerGetID(reinterpret_cast<HMIXEROBJ>(std::uintptr_t{200}), &id, MIXER_OBJECTF_WAVEOUT),
        MMSYSERR_BADDEVICEID);
    EXPECT_EQ(mixerGetID(nullptr, nullptr, MIXER_OBJECTF_MIXER), MMSYSERR_INVALPARAM);
    EXPECT_EQ(mixerGetID(nullptr, &id, 0x0F000000), MMSYSERR_INVALFLAG);
    EXPECT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(0x555), &id, MIXER_OBJECTF_HMIXER),
              MMSYSERR_INVALHANDLE);
    if (midiOutGetNumDevs() == 0) {
        EXPECT_EQ(mixerGetID(nullptr, &id, MIXER_OBJECTF_MIDIOUT), MMSYSERR_NODRIVER);
        EXPECT_EQ(id, static_cast<UINT>(-1));
    }
    // An open wave handle names its device's mixer.
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEIN in = OpenIn(rec, f);
    UINT byHandle = 97, byId = 96;
    EXPECT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(in), &byHandle, MIXER_OBJECTF_HWAVEIN),
              MMSYSERR_NOERROR);
    EXPECT_EQ(mixerGetID(nullptr, &byId, MIXER_OBJECTF_WAVEIN), MMSYSERR_NOERROR);
    EXPECT_EQ(byHandle, byId);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}

// ---- Hot-plug and faults (where the harness can cause them)
// ---------------------------------------

TEST_P(AudioConformance, RemovedCardFailsItsHandlesAndReturnsItsBuffers) {
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    const UINT outs = waveOutGetNumDevs(), mixers = mixerGetNumDevs();
    MessageRecorder win;
    HMIXER mx = nullptr;
    ASSERT_EQ(mixerOpen(&mx, 0, reinterpret_cast<DWORD_PTR>(win.Hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = OpenOut(rec, f);
    Buffer buf(16000);
    const conformance::CloseAtExit closeH(h);
    ASSERT_EQ(waveOutPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    if (!H().RemoveCard(caps.szPname)) {
        waveOutReset(h);
        waveOutClose(h);
        mixerClose(mx);
        GTEST_SKIP() << "the harness cannot remove a card";
    }
    EXPECT_EQ(waveOutGetNumDevs(), outs - 1);
    EXPECT_EQ(mixerGetNumDevs(), mixers - 1);
    ASSERT_TRUE(H().WaitFor([&] { return rec.Count(MM_WOM_DONE) == 1; }, 1000));
    EXPECT_TRUE(buf.hdr.dwFlags & WHDR_DONE);
    EXPECT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NODRIVER);
    UINT id = 0;
    EXPECT_EQ(waveOutGetID(h, &id), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    EXPECT_FALSE(win.Messages(MM_MIXM_LINE_CHANGE).empty());
    MIXERLINEA l{};
    l.cbStruct = sizeof l;
    EXPECT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(mx), &l,
                                MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION),
              MMSYSERR_NODRIVER);
    EXPECT_EQ(mixerClose(mx), MMSYSERR_NOERROR);
    ASSERT_TRUE(H().AddCard(caps.szPname));
    EXPECT_EQ(waveOutGetNumDevs(), outs);
    EXPECT_EQ(mixerGetNumDevs(), mixers);
}

TEST_P(AudioConformance, InjectedOpenFaultsGiveTheirCodes) {
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = nullptr;
    if (!H().InjectOpenFault(0, MMSYSERR_ALLOCATED)) GTEST_SKIP() << "no fault injection";
    EXPECT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
    ASSERT_TRUE(H().InjectOpenFault(0, WAVERR_BADFORMAT));
    EXPECT_EQ(waveOutOpen(nullptr, 0, &f, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    ASSERT_TRUE(H().InjectOpenFault(0, MMSYSERR_NOERROR));
    ASSERT_EQ(waveOutOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

} // namespace conformance
