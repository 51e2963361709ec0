// Wave input on the simulated sound system with its manual clock: the wizard's recording format
// and its chain, the record-time limit, the format check of the device's standard formats, the
// property rules, a stop asked for while a buffer is handled on the worker thread, and a device
// that vanishes while recording.
#include "audio/stream/AvWavIn.h"
#include "audio/display/AvConect.h"
#include "framework/Forms.h"
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace {

class WaveIn : public ::testing::Test {
protected:
    void SetUp() override { Use(SimConfig::Default()); }
    void Use(const SimConfig& config) {
        App.reset();
        Backend.reset();
        auto sim = std::make_unique<SimBackend>(config);
        Sim = sim.get();
        Backend = std::make_unique<ScopedAudioBackend>(std::move(sim));
        App = std::make_unique<TApplication>();
        App->SetMessageBoxHook([this](const QString&, const QString& text, int) {
            Messages << text;
            return IDOK;
        });
    }
    void TearDown() override {
        App.reset();
        Backend.reset();
    }
    // The wizard's recorder: 8000 Hz, 16 bits, stereo.
    std::unique_ptr<TAvWaveIn> Recorder(int bufferSize = 2000) {
        auto w = std::make_unique<TAvWaveIn>(nullptr);
        w->SetSampleRate(8000);
        w->SetBitLength(b16Bit);
        w->SetMode(mStereo);
        w->SetBufferSize(bufferSize);
        w->OnError = [this](TObject*) { ++Errors; };
        w->OnStop = [this](TObject*) { ++Stops; };
        return w;
    }
    // Records ms of sound in steps of 50 ms, handling what the device posted after each.
    void Record(int ms) {
        for (int t = 0; t < ms; t += 50) {
            Sim->Advance(50);
            QCoreApplication::processEvents();
        }
    }
    template <class Pred> static bool WaitFor(Pred done, int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    SimBackend* Sim = nullptr;
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    QStringList Messages;
    int Errors = 0;
    int Stops = 0;
};

TEST_F(WaveIn, RecordsTheWizardFormatDownItsChainAndStopsExactlyAtTheTimeLimit) {
    auto w = Recorder(3000);
    TAvConnector connector(nullptr);
    w->SetOutput(&connector);
    ASSERT_EQ(connector.Input(), w.get());
    ASSERT_NE(connector.PWaveFormat(), nullptr);
    EXPECT_EQ(connector.PWaveFormat()->nAvgBytesPerSec, 32000u);
    w->SetTimeFormat(tfMillisecond);
    w->SetMaxRecordTime(1000);
    EXPECT_EQ(w->ByteLimit(), 32000);
    std::vector<int> sizes;
    int loud = 0;
    w->OnBufferReady = [&](TObject* sender, TAvWaveHdr* h) {
        EXPECT_EQ(sender, w.get());
        sizes.push_back(static_cast<int>(h->dwBytesRecorded));
        std::int16_t l = 0, r = 0;
        FindPeaks(w->OwnFormat(), h->lpData, static_cast<std::int32_t>(h->dwBytesRecorded), l, r);
        if (std::abs(l) > 6553 && std::abs(r) > 6553) ++loud;
    };

    w->Open();
    // The connector downstream opened with the recorder's buffer size.
    EXPECT_TRUE(connector.IsOpen());
    EXPECT_EQ(connector.BufferSize(), 3000);
    w->Start();
    EXPECT_TRUE(w->DeviceStarted());
    EXPECT_TRUE(connector.Active());
    Record(1500);
    // 32000 bytes: ten whole buffers, then the one crossing the limit cut to what is left.
    ASSERT_EQ(sizes.size(), 11u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(sizes[i], 3000);
    EXPECT_EQ(sizes[10], 2000);
    EXPECT_EQ(w->BytesRecorded(), 32000u);
    EXPECT_EQ(Stops, 1);
    EXPECT_GE(loud, 10); // the simulated microphone's tone, on both channels
    EXPECT_FALSE(w->DeviceStarted());
    EXPECT_TRUE(w->DeviceOpen());
    EXPECT_FALSE(connector.Active());
    Record(500);
    EXPECT_EQ(sizes.size(), 11u);

    // Started again: the limit counts from the start.
    w->SetMaxRecordTime(-1);
    w->Start();
    Record(300);
    EXPECT_GE(sizes.size(), 14u);
    w->Close();
    EXPECT_FALSE(w->DeviceOpen());
    EXPECT_FALSE(connector.IsOpen());
    EXPECT_EQ(w->Handle(), nullptr);
    EXPECT_EQ(Errors, 0);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(WaveIn, OpensOnlyFormatsTheDeviceListsAndKeepsItsPropertyRules) {
    SimConfig config = SimConfig::Default();
    config.cards[1].inFormats = 0x000FFFF7; // no 8000-11025 Hz stereo 16-bit
    Use(config);
    auto w = Recorder();
    w->SetDeviceID(1);
    EXPECT_EQ(w->ProductName(), QStringLiteral("USB Headset"));
    try {
        w->Open();
        ADD_FAILURE() << "opened";
    } catch (const EAvWaveInError& e) {
        EXPECT_EQ(e.Message(),
                  QStringLiteral("WaveInOpen:\n\rThe actual device can't record this format"));
    }
    EXPECT_EQ(Errors, 1);
    EXPECT_FALSE(w->DeviceOpen());
    w->SetMode(mMono); // 0x0004 is there
    EXPECT_NO_THROW(w->Open());
    EXPECT_TRUE(w->DeviceOpen());
    try {
        w->SetBitLength(b8Bit);
        ADD_FAILURE() << "changed while open";
    } catch (const EAvWaveInError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Change to property while device was open"));
    }
    EXPECT_EQ(w->BitLength(), b16Bit);
    w->Close();

    w->SetSampleRate(4000);
    EXPECT_EQ(w->SampleRate(), 8000);
    w->SetNumBuffers(1);
    EXPECT_EQ(w->NumBuffers(), 10);
    w->SetNumBuffers(600);
    EXPECT_EQ(w->NumBuffers(), 500);
    w->SetBufferSize(10);
    EXPECT_EQ(w->BufferSize(), 32);
    w->SetDeviceID(7);
    EXPECT_EQ(w->DeviceID(), AvInvalidId);
    EXPECT_EQ(w->ProductName(), QStringLiteral("No wave audio recording device found"));
    EXPECT_THROW(w->Open(), EAvWaveInError);
    // Only where callbacks are interrupt work: here the mode stays, with a message.
    w->SetCallBackMode(cmCallback);
    EXPECT_EQ(w->CallBackMode(), cmWindow);
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].contains(QStringLiteral("Windows 95")));
}

TEST_F(WaveIn, AStopDuringDeliveryOnTheWorkerThreadEndsAfterItAndNothingFollows) {
    auto w = Recorder();
    w->SetCallBackMode(cmThread);
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, release = false;
    std::atomic<int> delivered{0};
    std::atomic<bool> onMain{false};
    w->OnBufferReady = [&](TObject*, TAvWaveHdr*) {
        onMain = onMain || IsMainThread();
        ++delivered;
        std::unique_lock<std::mutex> lock(m);
        entered = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
    };
    w->OnStop = [&](TObject*) {
        EXPECT_TRUE(IsMainThread());
        ++Stops;
    };
    w->Start();
    Sim->Advance(300); // four buffers filled and handed to the worker
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return entered; }));
    }
    w->Stop(); // the handler is still running: the stop waits for its end
    EXPECT_EQ(Stops, 0);
    EXPECT_TRUE(w->DeviceStarted());
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(WaitFor([&] { return Stops == 1; }));
    EXPECT_FALSE(w->DeviceStarted());
    EXPECT_EQ(delivered.load(), 1); // the buffers handed back by the stop were not delivered
    EXPECT_FALSE(onMain.load());
    Sim->Advance(300);
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.load(), 1);
    w->Close();
    EXPECT_FALSE(w->DeviceOpen());
    EXPECT_EQ(Errors, 0);
}

TEST_F(WaveIn, ADeviceThatVanishesWhileRecordingIsReportedAndClosed) {
    auto w = Recorder();
    w->SetDeviceID(1);
    int delivered = 0;
    w->OnBufferReady = [&](TObject*, TAvWaveHdr*) { ++delivered; };
    w->Start();
    Record(200);
    ASSERT_GE(delivered, 2);
    ASSERT_TRUE(Sim->RemoveCard("USB Headset"));
    Record(200);
    ASSERT_TRUE(WaitFor([&] { return !w->DeviceOpen(); }));
    EXPECT_EQ(w->Handle(), nullptr);
    EXPECT_GE(Errors, 1);
    ASSERT_FALSE(Messages.isEmpty());
    EXPECT_TRUE(Messages[0].startsWith(QStringLiteral("WaveIn"))) << Messages[0].toStdString();
    // Starting again on the gone device fails cleanly.
    EXPECT_THROW(w->Start(), EAvWaveInError);
    EXPECT_FALSE(w->DeviceOpen());
}

} // namespace
