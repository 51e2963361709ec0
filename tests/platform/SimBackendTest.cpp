// The simulated sound system itself: its default system, its microphone signal, its meter, its
// configuration and its clocks.
#include "AudioTestSupport.h"
#include "platform/api/AudioBackend.h"

#include <gtest/gtest.h>

#include "platform/sim/SimBackend.h"

#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>

#include <condition_variable>
#include <functional>
#include <thread>

using conformance::Buffer;
using conformance::CallbackRecorder;
using conformance::ControlOfType;
using conformance::MessageRecorder;
using conformance::Pcm;

namespace {

class SimTest : public ::testing::Test {
protected:
    SimTest() {
        auto sim = std::make_unique<SimBackend>(SimConfig::Default());
        sim_ = sim.get();
        installed_ = std::make_unique<ScopedAudioBackend>(std::move(sim));
    }
    ~SimTest() override { installed_.reset(); }

    static HMIXEROBJ Mixer(UINT id) {
        return reinterpret_cast<HMIXEROBJ>(static_cast<std::uintptr_t>(id));
    }
    // The id of the first control of a type on the first line of a component type.
    static DWORD ControlId(UINT mixer, DWORD lineType, DWORD controlType, DWORD* lineId = nullptr,
                           DWORD* items = nullptr) {
        MIXERLINEA l{};
        l.cbStruct = sizeof l;
        l.dwComponentType = lineType;
        EXPECT_EQ(mixerGetLineInfoA(Mixer(mixer), &l, MIXER_GETLINEINFOF_COMPONENTTYPE),
                  MMSYSERR_NOERROR);
        MIXERCONTROLA c{};
        EXPECT_EQ(ControlOfType(Mixer(mixer), MIXER_OBJECTF_MIXER, l.dwLineID, controlType, &c),
                  MMSYSERR_NOERROR);
        if (lineId) *lineId = l.dwLineID;
        if (items) *items = c.cMultipleItems;
        return c.dwControlID;
    }
    static void Set(UINT mixer, DWORD control, std::vector<LONG> v, DWORD items = 0) {
        ASSERT_EQ(conformance::ControlValues(Mixer(mixer), MIXER_OBJECTF_MIXER, control, 1, items,
                                             v, true),
                  MMSYSERR_NOERROR);
    }
    static std::vector<LONG> Get(UINT mixer, DWORD control, DWORD channels, DWORD items = 0) {
        std::vector<LONG> v(std::max<DWORD>(items, 1) * channels);
        EXPECT_EQ(conformance::ControlValues(Mixer(mixer), MIXER_OBJECTF_MIXER, control, channels,
                                             items, v, false),
                  MMSYSERR_NOERROR);
        return v;
    }

    // Records ms of 8 kHz mono 16-bit audio from wave input 0 and gives the peak sample.
    int RecordPeak(std::uint32_t ms) {
        CallbackRecorder rec;
        const WAVEFORMATEX f = Pcm(8000, 1, 16);
        HWAVEIN h = nullptr;
        EXPECT_EQ(waveInOpen(&h, 0, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        Buffer buf(16 * ms);
        EXPECT_EQ(waveInPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInAddBuffer(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
        sim_->Advance(ms);
        EXPECT_EQ(rec.Count(MM_WIM_DATA), 1u);
        EXPECT_EQ(buf.hdr.dwBytesRecorded, 16 * ms);
        EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
        int peak = 0;
        for (std::size_t i = 0; i + 1 < buf.data.size(); i += 2)
            peak = std::max(peak, std::abs(static_cast<int>(static_cast<std::int16_t>(
                                      buf.data[i] | buf.data[i + 1] << 8))));
        return peak;
    }

    SimBackend* sim_ = nullptr;
    std::unique_ptr<ScopedAudioBackend> installed_;
};

TEST_F(SimTest, DefaultSystemIsTwoCardsWithDriverStyleNumbering) {
    EXPECT_EQ(sim_->CardNames(), (std::vector<std::string>{"Virtual Audio Device", "USB Headset"}));
    EXPECT_EQ(waveOutGetNumDevs(), 2u);
    EXPECT_EQ(waveInGetNumDevs(), 2u);
    EXPECT_EQ(mixerGetNumDevs(), 2u);
    WAVEINCAPSA in{};
    EXPECT_EQ(waveInGetDevCapsA(WAVE_MAPPER, &in, sizeof in), MMSYSERR_NOERROR);
    EXPECT_TRUE(in.dwFormats & WAVE_FORMAT_1S16); // 8 kHz stereo 16-bit, as the wizard records

    for (UINT m = 0; m < 2; ++m) {
        MIXERLINEA dst{};
        dst.cbStruct = sizeof dst;
        dst.dwDestination = 1;
        ASSERT_EQ(mixerGetLineInfoA(Mixer(m), &dst, MIXER_GETLINEINFOF_DESTINATION),
                  MMSYSERR_NOERROR);
        EXPECT_EQ(dst.dwLineID, 0xFFFF0001u);
        EXPECT_EQ(dst.dwComponentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
        EXPECT_EQ(dst.Target.dwType, MIXERLINE_TARGETTYPE_WAVEIN);
        EXPECT_EQ(dst.Target.dwDeviceID, m);
        MIXERLINEA src{};
        src.cbStruct = sizeof src;
        src.dwDestination = 1;
        src.dwSource = 1;
        ASSERT_EQ(mixerGetLineInfoA(Mixer(m), &src, MIXER_GETLINEINFOF_SOURCE), MMSYSERR_NOERROR);
        EXPECT_EQ(src.dwLineID, 0x00010001u);
        EXPECT_STREQ(src.szName, "Microphone");
    }
    // The first microphone line is the one on the speakers, the one the speaker page mutes.
    DWORD line = 0;
    ControlId(0, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERCONTROL_CONTROLTYPE_MUTE, &line);
    EXPECT_EQ(line, 0x00010000u);
    // One card records through a multiplexer, the other through a mixer list.
    MIXERLINEA rec{};
    rec.cbStruct = sizeof rec;
    rec.dwLineID = 0xFFFF0001;
    ASSERT_EQ(mixerGetLineInfoA(Mixer(1), &rec, MIXER_GETLINEINFOF_LINEID), MMSYSERR_NOERROR);
    MIXERCONTROLA c{};
    EXPECT_EQ(ControlOfType(Mixer(1), MIXER_OBJECTF_MIXER, rec.dwLineID,
                            MIXERCONTROL_CONTROLTYPE_MUX, &c),
              MIXERR_INVALCONTROL);
    EXPECT_EQ(ControlOfType(Mixer(1), MIXER_OBJECTF_MIXER, rec.dwLineID,
                            MIXERCONTROL_CONTROLTYPE_MIXER, &c),
              MMSYSERR_NOERROR);
    EXPECT_EQ(
        ControlOfType(Mixer(0), MIXER_OBJECTF_MIXER, 0xFFFF0001, MIXERCONTROL_CONTROLTYPE_MUX, &c),
        MMSYSERR_NOERROR);
}

TEST_F(SimTest, RecordedLevelFollowsTheMicrophoneVolumeMuteAndSelection) {
    DWORD items = 0;
    const DWORD vol = ControlId(0, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERCONTROL_CONTROLTYPE_MUX,
                                nullptr, &items);
    (void)vol;
    // The recording destination's microphone source (source 1 of destination 1).
    MIXERCONTROLA c{};
    ASSERT_EQ(ControlOfType(Mixer(0), MIXER_OBJECTF_MIXER, 0x00010001,
                            MIXERCONTROL_CONTROLTYPE_VOLUME, &c),
              MMSYSERR_NOERROR);
    const DWORD mic = c.dwControlID;

    Set(0, mic, {65535});
    const int full = RecordPeak(100);
    EXPECT_NEAR(full, 0.5 * 32767, 200); // the default card hears a half-scale sine
    Set(0, mic, {16384});
    const int quarter = RecordPeak(100);
    EXPECT_NEAR(quarter, full / 4.0, 200);
    Set(0, mic, {0});
    EXPECT_EQ(RecordPeak(100), 0);

    // Selecting another recording source silences the microphone.
    Set(0, mic, {65535});
    const DWORD mux = ControlId(0, MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERCONTROL_CONTROLTYPE_MUX,
                                nullptr, &items);
    ASSERT_EQ(items, 3u);
    Set(0, mux, {1, 0, 0}, items);
    EXPECT_EQ(RecordPeak(50), 0);
    Set(0, mux, {0, 1, 0}, items);
    EXPECT_GT(RecordPeak(50), 10000);

    SimSignal silence;
    silence.kind = SimSignal::Kind::Silence;
    sim_->SetSignal("Virtual Audio Device", silence);
    EXPECT_EQ(RecordPeak(50), 0);
}

TEST_F(SimTest, WaveFileSignalIsLooped) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tone.wav");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QDataStream s(&f);
        s.setByteOrder(QDataStream::LittleEndian);
        const quint32 frames = 100;
        f.write("RIFF");
        s << quint32(36 + frames * 2);
        f.write("WAVEfmt ");
        s << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000)
          << quint16(2) << quint16(16);
        f.write("data");
        s << quint32(frames * 2);
        for (quint32 i = 0; i < frames; ++i)
            s << qint16(i < 50 ? 16384 : -16384);
    }
    SimSignal sig;
    sig.kind = SimSignal::Kind::WaveFile;
    sig.amplitude = 1.0;
    sig.file = path;
    sim_->SetSignal("Virtual Audio Device", sig);
    MIXERCONTROLA c{};
    ASSERT_EQ(ControlOfType(nullptr, MIXER_OBJECTF_MIXER, 0x00010001,
                            MIXERCONTROL_CONTROLTYPE_VOLUME, &c),
              MMSYSERR_NOERROR);
    const DWORD mic = c.dwControlID;
    Set(0, mic, {65535});
    // 50 ms is four passes through the 12.5 ms file: the level is that of the file.
    EXPECT_NEAR(RecordPeak(50), 16384, 2);
}

TEST_F(SimTest, ADamagedWaveSignalIsReadAsFarAsItGoes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    MIXERCONTROLA c{};
    ASSERT_EQ(ControlOfType(nullptr, MIXER_OBJECTF_MIXER, 0x00010001,
                            MIXERCONTROL_CONTROLTYPE_VOLUME, &c),
              MMSYSERR_NOERROR);
    Set(0, c.dwControlID, {65535});
    auto peakOf = [&](const QByteArray& bytes) {
        const QString path = dir.filePath(QStringLiteral("damaged.wav"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        SimSignal sig;
        sig.kind = SimSignal::Kind::WaveFile;
        sig.amplitude = 1.0;
        sig.file = path;
        sim_->SetSignal("Virtual Audio Device", sig);
        return RecordPeak(10);
    };
    auto le32 = [](quint32 v) {
        QByteArray b(4, 0);
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<char>(v >> (8 * i));
        return b;
    };
    const QByteArray head = "RIFF" + le32(0xFFFFFFF0) + "WAVE";
    // fmt: PCM, mono, 8000 Hz, 16000 bytes/s, block 2, 16 bits.
    const QByteArray fmt =
        "fmt " + le32(16) + QByteArray::fromHex("01000100401f0000803e000002001000");
    EXPECT_EQ(peakOf("RIFF"), 0);                                          // cut short
    EXPECT_EQ(peakOf(head + "data" + le32(4) + QByteArray(4, '\x7f')), 0); // no format
    EXPECT_EQ(peakOf(head + "fmt " + le32(0xFFFFFFFF) + "\x01"), 0);       // chunk past the end
    // A data chunk longer than the file: the sample that is there plays, nothing beyond it.
    EXPECT_EQ(peakOf(head + fmt + "data" + le32(0xFFFFFFF0) + QByteArray::fromHex("002011")),
              0x2000);
}

TEST_F(SimTest, KeepsWhatWasPlayedAndMetersIt) {
    sim_->SetKeepPlayed(true);
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 2, 16);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 1, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer buf(3200); // 100 ms of a full-scale square wave on the left, silence on the right
    for (std::size_t i = 0; i < buf.data.size(); i += 4) {
        const std::int16_t v = (i / 4) % 20 < 10 ? 32767 : -32767;
        buf.data[i] = static_cast<std::uint8_t>(v & 0xFF);
        buf.data[i + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    }
    ASSERT_EQ(waveOutPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    const DWORD peak =
        ControlId(1, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_PEAKMETER);
    const DWORD vol =
        ControlId(1, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERCONTROL_CONTROLTYPE_VOLUME);
    Set(1, vol, {65535});
    sim_->Advance(50);
    auto meter = Get(1, peak, 2);
    EXPECT_EQ(meter[0], 32767);
    EXPECT_EQ(meter[1], 0);
    Set(1, vol, {32768});
    sim_->Advance(30);
    EXPECT_NEAR(Get(1, peak, 2)[0], 16384, 2); // the meter shows the level after the volume
    sim_->Advance(50);                         // played out, then a meter period of silence
    EXPECT_EQ(rec.Count(MM_WOM_DONE), 1u);
    EXPECT_EQ(Get(1, peak, 2)[0], 0);
    EXPECT_EQ(sim_->TakePlayed("USB Headset"), buf.data);
    EXPECT_TRUE(sim_->TakePlayed("USB Headset").empty());
    EXPECT_TRUE(sim_->TakePlayed("Virtual Audio Device").empty());
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(SimTest, MixerIdsFollowHotPlug) {
    MessageRecorder win;
    HMIXER second = nullptr;
    ASSERT_EQ(mixerOpen(&second, 1, reinterpret_cast<DWORD_PTR>(win.Hwnd()), 0, CALLBACK_WINDOW),
              MMSYSERR_NOERROR);
    ASSERT_TRUE(sim_->RemoveCard("Virtual Audio Device"));
    EXPECT_FALSE(sim_->RemoveCard("Virtual Audio Device"));
    UINT id = 99;
    ASSERT_EQ(mixerGetID(reinterpret_cast<HMIXEROBJ>(second), &id, MIXER_OBJECTF_HMIXER),
              MMSYSERR_NOERROR);
    EXPECT_EQ(id, 0u); // the headset's mixer moved up
    // The notice names each destination line of the mixer.
    auto notes = win.Messages(MM_MIXM_LINE_CHANGE);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].wParam, reinterpret_cast<WPARAM>(second));
    EXPECT_EQ(notes[0].lParam, static_cast<LPARAM>(0xFFFF0000u));
    MIXERLINEA l{};
    l.cbStruct = sizeof l;
    l.dwDestination = 0;
    ASSERT_EQ(mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(second), &l,
                                MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION),
              MMSYSERR_NOERROR);
    EXPECT_EQ(l.Target.dwDeviceID, 0u); // the headset is now wave output 0
    sim_->AddCard(SimConfig::StandardCard("Dock", false));
    EXPECT_EQ(mixerGetNumDevs(), 2u);
    EXPECT_EQ(win.Messages(MM_MIXM_LINE_CHANGE).size(), 4u);
    EXPECT_EQ(mixerClose(second), MMSYSERR_NOERROR);
}

TEST_F(SimTest, RealTimeClockPlaysOnItsOwnThread) {
    struct Done {
        std::mutex lock;
        std::condition_variable cv;
        int count = 0;
        static void Proc(HDRVR, UINT msg, DWORD_PTR inst, DWORD_PTR, DWORD_PTR) {
            auto* self = reinterpret_cast<Done*>(inst);
            if (msg != MM_WOM_DONE) return;
            std::lock_guard g(self->lock);
            ++self->count;
            self->cv.notify_all();
        }
    } done;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, reinterpret_cast<DWORD_PTR>(&Done::Proc),
                          reinterpret_cast<DWORD_PTR>(&done), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer a(800), b(800); // 50 ms each
    for (Buffer* x : {&a, &b}) {
        ASSERT_EQ(waveOutPrepareHeader(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    sim_->StartRealTimeClock(2);
    {
        std::unique_lock g(done.lock);
        EXPECT_TRUE(done.cv.wait_for(g, std::chrono::seconds(10), [&] { return done.count == 2; }));
    }
    sim_->StopRealTimeClock();
    EXPECT_GE(sim_->Now(), 100000u);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

// The real-time clock sleeps while no stream is open (nothing to play or record: no CPU spent),
// wakes when one opens, and sleeps again a while after the last one closed.
TEST_F(SimTest, RealTimeClockSleepsWithoutStreams) {
    auto waitFor = [](const std::function<bool()>& pred) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!pred() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return pred();
    };
    sim_->StartRealTimeClock(2);
    ASSERT_TRUE(waitFor([&] { return sim_->ClockSleeping(); }));
    const std::uint64_t asleep = sim_->Now();
    EXPECT_LE(asleep, 300000u); // 200 ms of quiet, in steps
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_TRUE(waitFor([&] { return !sim_->ClockSleeping() && sim_->Now() > asleep; }));
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(waitFor([&] { return sim_->ClockSleeping(); }));
    sim_->StopRealTimeClock();
}

TEST_F(SimTest, ResetAndCloseWhileTheClockThreadDelivers) {
    // The clock thread plays and the callback queues each buffer again; the main thread resets
    // and closes meanwhile. No callback may run after the close notice.
    struct Loop {
        std::mutex lock;
        std::condition_variable cv;
        int done = 0;
        int outstanding = 0; // written and not yet reported done
        int refilling = 0;   // callbacks between their check of stopping and their write
        bool closed = false, lateCallback = false, stopping = false;
        static void Proc(HDRVR h, UINT msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR) {
            auto* self = reinterpret_cast<Loop*>(inst);
            std::unique_lock g(self->lock);
            if (self->closed) self->lateCallback = true;
            if (msg == MM_WOM_CLOSE) self->closed = true;
            if (msg != MM_WOM_DONE) return;
            ++self->done;
            --self->outstanding;
            self->cv.notify_all();
            if (self->stopping) return; // as a player does: no refill once stopping
            ++self->refilling;
            g.unlock();
            const MMRESULT r = waveOutWrite(reinterpret_cast<HWAVEOUT>(h),
                                            reinterpret_cast<WAVEHDR*>(p1), sizeof(WAVEHDR));
            g.lock();
            if (r == MMSYSERR_NOERROR) ++self->outstanding;
            --self->refilling;
            self->cv.notify_all();
        }
        bool WaitFor(const std::function<bool()>& pred) {
            std::unique_lock g(lock);
            return cv.wait_for(g, std::chrono::seconds(10), pred);
        }
    } loop;
    const WAVEFORMATEX f = Pcm(44100, 2, 16);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, reinterpret_cast<DWORD_PTR>(&Loop::Proc),
                          reinterpret_cast<DWORD_PTR>(&loop), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    // Whatever happens below, no callback may reach the loop once it is gone.
    struct Quiet {
        Loop& loop;
        SimBackend* sim;
        HWAVEOUT h;
        ~Quiet() {
            {
                std::lock_guard g(loop.lock);
                loop.stopping = true;
            }
            sim->StopRealTimeClock();
            waveOutReset(h);
            waveOutClose(h);
        }
    } quiet{loop, sim_, h};
    std::vector<std::unique_ptr<Buffer>> bufs;
    for (int i = 0; i < 4; ++i) {
        bufs.push_back(std::make_unique<Buffer>(176)); // 1 ms each
        ASSERT_EQ(waveOutPrepareHeader(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &bufs[i]->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        std::lock_guard g(loop.lock);
        ++loop.outstanding;
    }
    sim_->StartRealTimeClock(1);
    ASSERT_TRUE(loop.WaitFor([&] { return loop.done >= 50; }));
    {
        std::lock_guard g(loop.lock);
        loop.stopping = true;
    }
    // A refill already under way on the clock thread may still land after the flag: once none
    // is under way, no buffer can be queued any more. The reset returns what is queued; a buffer
    // the clock thread has just finished comes back on that thread.
    ASSERT_TRUE(loop.WaitFor([&] { return loop.refilling == 0; }));
    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    ASSERT_TRUE(loop.WaitFor([&] { return loop.outstanding == 0; }));
    ASSERT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
    sim_->StopRealTimeClock();
    std::lock_guard g(loop.lock);
    EXPECT_TRUE(loop.closed);
    EXPECT_FALSE(loop.lateCallback);
}

TEST_F(SimTest, CloseFromTheCallbackOfARemovedCardEndsItsReports) {
    // The card goes with three buffers queued; the first one's callback closes the device (as a
    // failing player does). The other two are never reported: the handle is gone.
    struct Closer {
        int done = 0, closes = 0, afterClose = 0;
        MMRESULT closeResult = 99;
        static void Proc(HDRVR h, UINT msg, DWORD_PTR inst, DWORD_PTR, DWORD_PTR) {
            auto* self = reinterpret_cast<Closer*>(inst);
            if (self->closes > 0) ++self->afterClose;
            if (msg == MM_WOM_CLOSE) ++self->closes;
            if (msg != MM_WOM_DONE || self->done++ > 0) return;
            self->closeResult = waveOutClose(reinterpret_cast<HWAVEOUT>(h));
        }
    } closer;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 1, &f, reinterpret_cast<DWORD_PTR>(&Closer::Proc),
                          reinterpret_cast<DWORD_PTR>(&closer), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer a(1600), b(1600), c(1600);
    for (Buffer* x : {&a, &b, &c}) {
        ASSERT_EQ(waveOutPrepareHeader(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(sim_->RemoveCard("USB Headset"));
    EXPECT_EQ(closer.closeResult, MMSYSERR_NOERROR);
    EXPECT_EQ(closer.done, 1);
    EXPECT_EQ(closer.closes, 1);
    EXPECT_EQ(closer.afterClose, 0);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_INVALHANDLE);
}

TEST_F(SimTest, HandlesStandInForIdsAndTheMapperIsDeviceZero) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 2, 16);
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 1, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    WAVEINCAPSA byHandle{}, byId{};
    ASSERT_EQ(waveInGetDevCapsA(reinterpret_cast<UINT_PTR>(h), &byHandle, sizeof byHandle),
              MMSYSERR_NOERROR);
    ASSERT_EQ(waveInGetDevCapsA(1, &byId, sizeof byId), MMSYSERR_NOERROR);
    EXPECT_STREQ(byHandle.szPname, "USB Headset");
    EXPECT_STREQ(byId.szPname, byHandle.szPname);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInGetDevCapsA(reinterpret_cast<UINT_PTR>(h), &byHandle, sizeof byHandle),
              MMSYSERR_BADDEVICEID);

    ASSERT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    UINT id = 99;
    EXPECT_EQ(waveInGetID(h, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);

    // Input faults: a busy microphone, then a refused open.
    sim_->SetOpenFault("Virtual Audio Device", SimBackend::Direction::Input, MMSYSERR_ALLOCATED);
    EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    sim_->SetOpenFault("Virtual Audio Device", SimBackend::Direction::Input, MMSYSERR_NOTENABLED);
    EXPECT_EQ(waveInOpen(&h, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOTENABLED);
    EXPECT_EQ(waveInOpen(&h, 1, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR); // other card fine
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(SimTest, RemovedCardReturnsTheRecordingBuffersWithWhatTheyHold) {
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 1, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer a(1600), b(1600); // 100 ms each
    for (Buffer* x : {&a, &b}) {
        ASSERT_EQ(waveInPrepareHeader(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(h, &x->hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    sim_->Advance(50);
    ASSERT_TRUE(sim_->RemoveCard("USB Headset"));
    ASSERT_EQ(rec.Count(MM_WIM_DATA), 2u);
    EXPECT_EQ(a.hdr.dwBytesRecorded, 800u);
    EXPECT_EQ(b.hdr.dwBytesRecorded, 0u);
    EXPECT_EQ(waveInStart(h), MMSYSERR_NODRIVER);
    MMTIME t{};
    EXPECT_EQ(waveInGetPosition(h, &t, sizeof t), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInGetNumDevs(), 1u);
}

TEST(SimMicrophone, AMuteOnTheRecordingMicrophoneSilencesIt) {
    SimConfig cfg;
    cfg.cards = {SimConfig::StandardCard("Card", true)};
    cfg.cards[0].destinations[1].sources[1].controls.push_back("Mute");
    auto sim = std::make_unique<SimBackend>(cfg);
    SimBackend* raw = sim.get();
    ScopedAudioBackend installed(std::move(sim));
    MIXERCONTROLA c{}; // the recording destination's microphone
    ASSERT_EQ(
        ControlOfType(nullptr, MIXER_OBJECTF_MIXER, 0x00010001, MIXERCONTROL_CONTROLTYPE_MUTE, &c),
        MMSYSERR_NOERROR);
    auto record = [&] {
        CallbackRecorder rec;
        const WAVEFORMATEX f = Pcm(8000, 1, 8);
        HWAVEIN h = nullptr;
        EXPECT_EQ(waveInOpen(&h, 0, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
                  MMSYSERR_NOERROR);
        Buffer buf(400);
        EXPECT_EQ(waveInPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInAddBuffer(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
        raw->Advance(50);
        EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
        int peak = 0;
        for (auto b : buf.data)
            peak = std::max(peak, std::abs(static_cast<int>(b) - 128));
        return peak;
    };
    EXPECT_GT(record(), 40); // 8-bit: a half-scale sine at three quarters volume
    LONG on = 1;
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = c.dwControlID;
    d.cChannels = 1;
    d.cbDetails = sizeof on;
    d.paDetails = &on;
    ASSERT_EQ(mixerSetControlDetails(nullptr, &d, MIXER_SETCONTROLDETAILSF_VALUE),
              MMSYSERR_NOERROR);
    EXPECT_EQ(record(), 0);
}

TEST(SimConfigTest, NumbersOutOfRangeAreMistakesNotWrappedValues) {
    QString error;
    for (const char* json : {
             R"({"cards":[{"name":"A","mixer":[{"type":"Speakers","volume":-1}]}]})",
             R"({"cards":[{"name":"A","mixer":[{"type":"Speakers","volume":1e20}]}]})",
             R"({"cards":[{"name":"A","manufacturerId":65536}]})",
             R"({"cards":[{"name":"A","productId":-3}]})",
             R"({"cards":[{"name":"A","driverVersion":1e12}]})",
             R"({"cards":[{"name":"A","driverVersion":"soon"}]})",
             R"({"cards":[{"name":"A","waveOut":{"channels":65538}}]})",
             R"({"cards":[{"name":"A","waveIn":{"channels":0}}]})",
             R"({"cards":[{"name":"A","waveIn":{"formats":2.5}}]})",
         }) {
        error.clear();
        EXPECT_FALSE(SimConfig::Parse(json, &error)) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
    }
    auto cfg = SimConfig::Parse(R"({"cards":[{"name":"A","manufacturerId":"0x10","productId":7,
        "waveIn":{"channels":1,"formats":4294967295},
        "mixer":[{"type":"Speakers","volume":100000}]}]})",
                                &error);
    ASSERT_TRUE(cfg) << error.toStdString();
    EXPECT_EQ(cfg->cards[0].manufacturerId, 0x10);
    EXPECT_EQ(cfg->cards[0].productId, 7);
    EXPECT_EQ(cfg->cards[0].inChannels, 1);
    EXPECT_EQ(cfg->cards[0].inFormats, 0xFFFFFFFFu);
    EXPECT_EQ(cfg->cards[0].destinations[0].volume, 0xFFFF); // loud values are clamped
}

TEST(SimConfigTest, ParseReportsMistakes) {
    QString error;
    EXPECT_FALSE(SimConfig::Parse("{", &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(SimConfig::Parse(R"({"cards":[{"mixer":[]}]})", &error));
    EXPECT_TRUE(error.contains("name"));
    EXPECT_FALSE(
        SimConfig::Parse(R"({"cards":[{"name":"A","mixer":[{"type":"Kazoo"}]}]})", &error));
    EXPECT_TRUE(error.contains("Kazoo"));
    EXPECT_FALSE(SimConfig::Parse(
        R"({"cards":[{"name":"A","mixer":[{"type":"Speakers","sources":[{"type":"Speakers"}]}]}]})",
        &error));
    EXPECT_FALSE(SimConfig::Parse(
        R"({"cards":[{"name":"A","mixer":[{"type":"Speakers","controls":["Bass"]}]}]})", &error));
    EXPECT_FALSE(SimConfig::Parse(R"({"cards":[{"name":"A","signal":{"kind":"noise"}}]})", &error));
    EXPECT_FALSE(SimConfig::Load("/nonexistent/sim.json", &error));

    auto cfg = SimConfig::Parse(R"({"waveMapper":false,"cards":[{"name":"Only","waveIn":false,
        "waveOut":{"channels":1,"formats":"0x5"}}]})",
                                &error);
    ASSERT_TRUE(cfg) << error.toStdString();
    ScopedAudioBackend installed(std::make_unique<SimBackend>(*cfg));
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    EXPECT_EQ(waveInGetNumDevs(), 0u);
    EXPECT_EQ(mixerGetNumDevs(), 0u);
    WAVEOUTCAPSA caps{};
    EXPECT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    WAVEINCAPSA in{};
    EXPECT_EQ(waveInGetDevCapsA(0, &in, sizeof in), MMSYSERR_BADDEVICEID);
    const WAVEFORMATEX stereo = Pcm(8000, 2, 16);
    EXPECT_EQ(waveOutOpen(nullptr, 0, &stereo, 0, 0, WAVE_FORMAT_QUERY), WAVERR_BADFORMAT);
    HWAVEIN hin = nullptr;
    EXPECT_EQ(waveInOpen(&hin, 0, &stereo, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    UINT id = 0;
    EXPECT_EQ(mixerGetID(nullptr, &id, MIXER_OBJECTF_WAVEOUT), MMSYSERR_NODRIVER);
}

TEST(BackendSelection, EmptyBackendHasNoDevicesAndHandlesDieWithTheirBackend) {
    auto sim = std::make_unique<SimBackend>(SimConfig::Default());
    auto* raw = sim.get();
    auto installed = std::make_unique<ScopedAudioBackend>(std::move(sim));
    CallbackRecorder rec;
    const WAVEFORMATEX f = Pcm(8000, 1, 16);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, 0, &f, rec.Proc(), rec.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    Buffer buf(1600);
    ASSERT_EQ(waveOutPrepareHeader(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &buf.hdr, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    raw->Advance(10);
    {
        // Replacing the backend closes what was open on it: the buffer comes back, then the
        // close notice; the handle is dead afterwards.
        ScopedAudioBackend none(std::make_unique<IAudioBackend>());
        EXPECT_EQ(rec.Count(MM_WOM_DONE), 1u);
        EXPECT_EQ(rec.Count(MM_WOM_CLOSE), 1u);
        EXPECT_EQ(waveOutPause(h), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutGetNumDevs(), 0u);
        EXPECT_EQ(mixerGetNumDevs(), 0u);
        EXPECT_EQ(auxGetNumDevs(), 0u);
        EXPECT_EQ(midiInGetNumDevs(), 0u);
        WAVEOUTCAPSA caps{};
        EXPECT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NODRIVER);
        MIDIOUTCAPSA midi{};
        EXPECT_EQ(midiOutGetDevCapsA(0, &midi, sizeof midi), MMSYSERR_NODRIVER);
        HWAVEOUT h2 = nullptr;
        EXPECT_EQ(waveOutOpen(&h2, 0, &f, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    }
    installed.reset();
}

} // namespace
