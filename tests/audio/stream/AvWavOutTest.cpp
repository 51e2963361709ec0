// The wave output on the simulated sound system with its manual clock: what it plays and in which
// order, looping, stopping and closing from inside its own events, every callback mode, a device
// that goes away while playing, and opens the platform refuses.
#include "audio/stream/AvWavOut.h"
#include "StreamTestSupport.h"
#include "platform/sim/SimBackend.h"
#include "resources/AvResources.h"

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char* const kCard = "Virtual Audio Device"; // wave output 0 of the default simulation
const char* const kUsb = "USB Headset";           // wave output 1

WAVEFORMATEX Pcm8k8Mono() { // 8 bytes per millisecond
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, 8, 1, 8000);
    return f;
}

// Counts events; any thread.
struct TEventLog {
    std::atomic<int> Open{0}, Start{0}, Stop{0}, Close{0}, Error{0}, Looping{0}, Ready{0};
    std::mutex Lock;
    std::vector<std::uint8_t> FirstBytes; // first data byte of every buffer pushed, in order
    void Attach(TAvWaveOut* out) {
        out->OnOpen = [this](TObject*) { ++Open; };
        out->OnStart = [this](TObject*) { ++Start; };
        out->OnStop = [this](TObject*) { ++Stop; };
        out->OnClose = [this](TObject*) { ++Close; };
        out->OnError = [this](TObject*) { ++Error; };
        out->OnLooping = [this](TObject*) { ++Looping; };
        out->OnBufferReady = [this](TObject*, TAvWaveHdr* h) {
            ++Ready;
            std::lock_guard g(Lock);
            FirstBytes.push_back(static_cast<std::uint8_t>(h->lpData[0]));
        };
    }
};

class WaveOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto sim = std::make_unique<SimBackend>();
        Sim = sim.get();
        Sim->SetKeepPlayed(true);
        Installed = std::make_unique<ScopedAudioBackend>(std::move(sim));
        Form = std::make_unique<TAvComponent>(nullptr);
    }
    void TearDown() override {
        Form.reset();
        Installed.reset();
    }

    // A wave output fed by a memory source.
    TAvWaveOut* MakeOutput(std::vector<std::uint8_t> data, int bufferSize = 1024,
                           int numBuffers = 4) {
        Source = new TMemorySource(Form.get(), std::move(data), Pcm8k8Mono());
        auto* out = new TAvWaveOut(Form.get());
        out->SetInput(Source);
        out->SetBufferSize(bufferSize);
        out->SetNumBuffers(numBuffers);
        Log.Attach(out);
        return out;
    }

    // Runs the sound system in 10 ms steps, delivering the hidden window's messages after each,
    // until done() holds; at most simMs of audio and 20 s of real time.
    bool RunUntil(const std::function<bool()>& done, int simMs = 20000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int t = 0; t <= simMs; t += 10) {
            QCoreApplication::sendPostedEvents();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            Sim->Advance(10);
            // A worker thread refills in its own time: give it a moment before time runs on.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        QCoreApplication::sendPostedEvents();
        return done();
    }
    // Drives the output until it has stopped by itself.
    bool PlayToEnd(TAvWaveOut* out, int simMs = 20000) {
        return RunUntil([&] { return !(out->State() & wsStarted); }, simMs);
    }

    SimBackend* Sim = nullptr;
    std::unique_ptr<ScopedAudioBackend> Installed;
    std::unique_ptr<TAvComponent> Form;
    TMemorySource* Source = nullptr;
    TEventLog Log;
};

TEST_F(WaveOutTest, PlaysEveryByteInOrderAndStopsByItselfAtTheEnd) {
    const auto data = Pattern(10000); // 9 full buffers and a short one
    TAvWaveOut* out = MakeOutput(data);
    out->Start();
    EXPECT_EQ(out->BuffersInUse(), 4);
    EXPECT_EQ(Log.Open, 1);
    EXPECT_EQ(Log.Start, 1);
    ASSERT_TRUE(PlayToEnd(out));
    EXPECT_EQ(Sim->TakePlayed(kCard), data);
    EXPECT_EQ(Log.Stop, 1);
    EXPECT_EQ(Log.Error, 0);
    EXPECT_EQ(Log.Ready, 10);
    std::vector<std::uint8_t> expected;
    for (std::size_t at = 0; at < data.size(); at += 1024)
        expected.push_back(data[at]);
    EXPECT_EQ(Log.FirstBytes, expected) << "buffers pushed downstream in the order they played";
    EXPECT_EQ(out->BytesPlayed(), 10000u);
    EXPECT_TRUE(out->State() & wsOpen) << "stopping at the end leaves the device open";
    EXPECT_EQ(out->Allocator().InUse(), 0) << "every header went back to the pool";
    EXPECT_FALSE(Source->IsStarted());

    // A source shorter than the ring: only the filled headers are used, one stop.
    Source->Load(Pattern(1500, 9));
    out->Start();
    EXPECT_EQ(out->BuffersInUse(), 2);
    ASSERT_TRUE(PlayToEnd(out));
    EXPECT_EQ(Sim->TakePlayed(kCard), Pattern(1500, 9));
    EXPECT_EQ(Log.Stop, 2);
    EXPECT_EQ(out->Allocator().Count(), 4) << "headers are pooled, not allocated per start";
    out->Close();
    EXPECT_EQ(out->State(), TAvWaveOutState(wsClosed));
    EXPECT_EQ(Log.Close, 1);
    EXPECT_FALSE(Source->IsOpen());
}

TEST_F(WaveOutTest, LoopingPlaysTheSourceAgainAndRestartsThePosition) {
    const auto data = Pattern(3000);
    TAvWaveOut* out = MakeOutput(data);
    out->SetTimeFormat(tfByte);
    out->SetLooping(true);
    out->SetLoopCount(2);
    out->Start();
    ASSERT_TRUE(PlayToEnd(out));
    std::vector<std::uint8_t> thrice;
    for (int i = 0; i < 3; ++i)
        thrice.insert(thrice.end(), data.begin(), data.end());
    EXPECT_EQ(Sim->TakePlayed(kCard), thrice);
    EXPECT_EQ(Log.Looping, 2);
    EXPECT_EQ(Source->LoopedCalls, 2) << "the chain hears each wrap";
    EXPECT_EQ(Log.Stop, 1);

    // Endless: plays until stopped; the position counts from the last wrap.
    Source->Rewind();
    out->SetLoopCount(0);
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return Log.Looping >= 5; }));
    EXPECT_TRUE(out->State() & wsStarted);
    const std::int64_t pos = out->GetPosition();
    EXPECT_GE(pos, 0);
    EXPECT_LT(pos, 3000 + 1024) << "position restarts at each wrap";
    out->Stop();
    EXPECT_EQ(Log.Stop, 2);
    EXPECT_FALSE(out->State() & wsStarted);
    // Every header came back and the device is quiet.
    EXPECT_EQ(out->Allocator().InUse(), 0);
    Sim->TakePlayed(kCard);
    Sim->Advance(500);
    EXPECT_TRUE(Sim->TakePlayed(kCard).empty());
}

TEST_F(WaveOutTest, StopAndCloseFromInsideABufferEventFinishOnceAfterIt) {
    TAvWaveOut* out = MakeOutput(Pattern(20000));
    int seen = 0;
    out->OnBufferReady = [&](TObject*, TAvWaveHdr*) {
        if (++seen == 2) out->Stop();
    };
    out->Start();
    ASSERT_TRUE(PlayToEnd(out));
    EXPECT_EQ(Log.Stop, 1);
    EXPECT_EQ(seen, 2) << "no buffer is handled after the stop";
    EXPECT_EQ(out->Allocator().InUse(), 0);

    Source->Rewind();
    seen = 0;
    out->OnBufferReady = [&](TObject*, TAvWaveHdr*) {
        if (++seen == 3) out->Close();
    };
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return out->State() == TAvWaveOutState(wsClosed); }));
    EXPECT_EQ(Log.Stop, 2);
    EXPECT_EQ(Log.Close, 1);
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(Log.Error, 0);
}

class WaveOutModeTest : public WaveOutTest, public ::testing::WithParamInterface<TAvCBMode> {};

TEST_P(WaveOutModeTest, EveryCallbackModePlaysAllAndStopsOnTheMainThread) {
    const auto data = Pattern(12000);
    TAvWaveOut* out = MakeOutput(data, 512, 3);
    out->SetCallBackMode(GetParam());
    out->SetPriority(tpTimeCritical); // more than the system may grant: no failure
    std::atomic<bool> stopOnMain{false};
    out->OnStop = [&](TObject*) {
        ++Log.Stop;
        stopOnMain = IsMainThread();
    };
    out->Start();
    ASSERT_TRUE(PlayToEnd(out));
    EXPECT_EQ(Sim->TakePlayed(kCard), data);
    EXPECT_EQ(Log.Stop, 1);
    EXPECT_TRUE(stopOnMain);
    EXPECT_EQ(Log.Ready, 24);
    EXPECT_EQ(Log.Error, 0);

    // Stopped from the main thread while buffers are being handled elsewhere, then played again.
    Source->Rewind();
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return Log.Ready >= 30; }));
    out->Stop();
    ASSERT_TRUE(RunUntil([&] { return Log.Stop == 2; }));
    out->Close();
    EXPECT_EQ(out->State(), TAvWaveOutState(wsClosed));
    EXPECT_EQ(Log.Close, 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutModeTest, ::testing::Values(cmWindow, cmCallback, cmThread),
                         CallBackModeName);

class WaveOutRemovalTest : public WaveOutModeTest {};

TEST_P(WaveOutRemovalTest, ADeviceRemovedWhilePlayingEndsInOnErrorAndAClosedDevice) {
    TAvWaveOut* out = MakeOutput(Pattern(100000));
    out->SetCallBackMode(GetParam());
    out->SetDeviceID(1);
    EXPECT_EQ(out->ProductName(), kUsb);
    out->Start();
    ASSERT_TRUE(RunUntil([&] { return Log.Ready >= 3; }));
    ASSERT_TRUE(Sim->RemoveCard(kUsb));
    ASSERT_TRUE(RunUntil([&] { return out->State() == TAvWaveOutState(wsClosed); }, 3000));
    EXPECT_GE(Log.Error, 1);
    EXPECT_EQ(Log.Close, 1);
    EXPECT_FALSE(Source->IsOpen());
    // The component is usable again on a device that is there.
    out->SetDeviceID(0);
    Source->Load(Pattern(2000));
    out->Start();
    ASSERT_TRUE(PlayToEnd(out));
    EXPECT_EQ(Sim->TakePlayed(kCard), Pattern(2000));
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutRemovalTest,
                         ::testing::Values(cmWindow, cmCallback, cmThread), CallBackModeName);

TEST_F(WaveOutTest, RefusedOpensAndBadSettingsRaiseTheirMessages) {
    TAvWaveOut* out = MakeOutput(Pattern(4000));
    auto startMessage = [&] {
        try {
            out->Start();
        } catch (const EAvWaveOutError& e) {
            return e.Message();
        }
        return QString("no error");
    };

    Sim->SetOpenFault(kCard, SimBackend::Direction::Output, MMSYSERR_ALLOCATED);
    const QString busy = startMessage();
    EXPECT_TRUE(busy.startsWith("WaveOutOpen:\n\r")) << busy.toStdString();
    EXPECT_TRUE(busy.contains("already in use")) << busy.toStdString();
    EXPECT_EQ(Log.Error, 1);
    EXPECT_EQ(out->State(), TAvWaveOutState(wsClosed));
    EXPECT_FALSE(Source->IsOpen()) << "the chain is closed again";

    Sim->SetOpenFault(kCard, SimBackend::Direction::Output, WAVERR_BADFORMAT);
    EXPECT_EQ(startMessage(), "WaveOutOpen:\n\rThe actual device can't play this format");
    // No message of the string table shows an apostrophe doubled as in source code.
    for (int n = 28000; n < 29000; ++n)
        EXPECT_FALSE(av::LoadResString(n).contains(QStringLiteral("''"))) << n;
    Sim->SetOpenFault(kCard, SimBackend::Direction::Output, MMSYSERR_NOERROR);

    // A source that delivers nothing.
    Source->Load({});
    EXPECT_EQ(startMessage(), "WaveOutStart:\n\rUnable to start device");
    EXPECT_EQ(out->State(), TAvWaveOutState(wsClosed));
    EXPECT_EQ(Log.Error, 3);

    out->SetDeviceID(99);
    EXPECT_EQ(out->DeviceID(), AvInvalidId);
    EXPECT_EQ(out->ProductName(), "No wave audio playing device found");
    EXPECT_EQ(startMessage(), "Invalid DeviceID");

    out->SetNumBuffers(1);
    EXPECT_EQ(out->NumBuffers(), 4);
    out->SetNumBuffers(600);
    EXPECT_EQ(out->NumBuffers(), 500);
    out->SetBufferSize(10);
    EXPECT_EQ(out->BufferSize(), 32);

    out->SetDeviceID(0);
    Source->Load(Pattern(4000));
    out->Open();
    EXPECT_THROW(out->SetDeviceID(1), EAvWaveOutError);
    EXPECT_EQ(out->DeviceID(), 0);
    out->Close();
    EXPECT_EQ(out->State(), TAvWaveOutState(wsClosed));
}

} // namespace
