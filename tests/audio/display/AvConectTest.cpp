// The connector feeding the microphone page's meter: blocks cut from each buffer and handed over
// at their due times, every due block in one pass and passes at most once a display frame
// (driven by a test clock and explicit passes), the slots, the small buffer, switching feeding
// off, stopping with and without a refresh, pausing, and the non-real-time mode.
#include "audio/display/AvConect.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <vector>

namespace {

std::int64_t FakeNow = 0;
std::int64_t FakeClock() {
    return FakeNow;
}

struct Fed {
    std::int64_t due, at;
};

// The page's meter (vertical 17 x 191, 16-bit stereo: 200-byte blocks) on a shown form, and a
// connector opened and started by hand with the recorder's format and buffer size.
struct Rig {
    // input: the recorder's format (default 16-bit stereo PCM at 8 kHz).
    Rig(bool realTime = true, const WAVEFORMATEX* input = nullptr, bool autoConvert = true) {
        TimerServiceSetManual(true);
        TAvConnector::SetClock(&FakeClock);
        FakeNow = 5'000'000;
        form.SetBounds(0, 0, 60, 220);
        level = new TAvLevel(&form);
        level->SetParent(&form);
        level->SetKind(lkVertical);
        level->SetBounds(10, 10, 17, 191);
        level->SetBitLength(b16Bit);
        level->SetMode(mStereo);
        form.Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        c = new TAvConnector(&form);
        c->SetRealTime(realTime);
        c->SetAutoConvert(autoConvert);
        c->SetLevel1(level);
        TAvConnector::SetFeedProbe([this](std::int64_t due, std::int64_t at) {
            fed.push_back({due, at});
        });
        BuildPcmFormat(&fmt, 16, 2, 8000);
        if (input) fmt = *input;
        c->SetBufferSize(2000);
        c->SetPWaveFormat(&fmt);
        c->Opened();
        c->Started();
        QCoreApplication::processEvents(); // the start message
    }
    ~Rig() {
        TAvConnector::SetFeedProbe(nullptr);
        c->Stopped();
        c->Closed();
        TAvConnector::SetClock(nullptr);
        TimerServiceSetManual(false);
    }
    // A loud buffer (every frame at +-20000) arriving now.
    void Arrive(int bytes = 2000) {
        std::vector<std::int16_t> b(static_cast<size_t>(bytes) / 2);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = (i / 2) % 2 ? 20000 : -20000;
        c->BufferArrived(b.data(), bytes);
    }

    TForm form{nullptr};
    TAvLevel* level;
    TAvConnector* c;
    WAVEFORMATEX fmt{};
    std::vector<Fed> fed;
};

TEST(AvConnector, EveryBlockReachesTheMeterInOrderOnceItIsDue) {
    int paints = 0; // outlives the rig, whose stop still paints the meter
    Rig r;
    ASSERT_EQ(r.level->BlockBytes(), 200);
    ASSERT_TRUE(r.c->Active());
    ASSERT_TRUE(r.c->Running());
    const std::int64_t t0 = FakeNow;
    r.Arrive();
    EXPECT_EQ(r.c->CopySize(), 2000);
    // 62.5 ms of sound: ten 200-byte blocks, 6.25 ms apart; none before its time.
    for (int k = 0; k < 10; ++k) {
        FakeNow = t0 + k * 6250 - 1;
        TAvConnector::RunPass();
        EXPECT_EQ(r.fed.size(), static_cast<size_t>(k)) << "block " << k << " came early";
        FakeNow = t0 + k * 6250;
        TAvConnector::RunPass();
        TAvConnector::RunPass(); // a second pass at the same moment has nothing due
        ASSERT_EQ(r.fed.size(), static_cast<size_t>(k + 1));
        EXPECT_EQ(r.fed.back().due, t0 + k * 6250);
        EXPECT_TRUE(r.c->Armed(dgLevels));
    }
    EXPECT_GT(r.level->LevelSpots(), 0);
    // The pass after the last block finds no whole block left and disarms the group.
    FakeNow = t0 + 10 * 6250;
    TAvConnector::RunPass();
    EXPECT_EQ(r.fed.size(), 10u);
    EXPECT_FALSE(r.c->Armed(dgLevels));

    // A later pass feeds every block due by then, in order, and the meter draws once.
    const std::int64_t t1 = FakeNow;
    r.Arrive();
    FakeNow = t1 + 40'000;
    r.level->OnPaint = [&](TObject*) { ++paints; };
    TAvConnector::RunPass();
    ASSERT_EQ(r.fed.size(), 17u);
    for (int k = 0; k < 7; ++k)
        EXPECT_EQ(r.fed[10 + k].due, t1 + k * 6250);
    EXPECT_LE(paints, 1);
    // The next buffer arrives before the rest of this one was fed: the three blocks left stay
    // ahead of it and go first, then the new buffer's first block.
    const std::int64_t t2 = t1 + 62'500;
    FakeNow = t2;
    r.Arrive();
    EXPECT_EQ(r.c->CopySize(), 600 + 2000);
    TAvConnector::RunPass();
    ASSERT_EQ(r.fed.size(), 21u);
    EXPECT_EQ(r.fed[17].due, t1 + 7 * 6250);
    EXPECT_EQ(r.fed[18].due, t1 + 8 * 6250);
    EXPECT_EQ(r.fed[19].due, t1 + 9 * 6250);
    EXPECT_EQ(r.fed[20].due, t2);
    FakeNow = t2 + 62'500;
    TAvConnector::RunPass();
    EXPECT_EQ(r.fed.size(), 30u);
    EXPECT_EQ(r.fed.back().due, t2 + 9 * 6250);
    EXPECT_FALSE(r.c->Armed(dgLevels));
}

TEST(AvConnector, NonPcmInputReachesTheMeterAsPcmOnlyWithAutoConvert) {
    WAVEFORMATEX mulaw{};
    mulaw.wFormatTag = WAVE_FORMAT_MULAW;
    mulaw.nChannels = 2;
    mulaw.nSamplesPerSec = 8000;
    mulaw.wBitsPerSample = 8;
    mulaw.nBlockAlign = 2;
    mulaw.nAvgBytesPerSec = 16000;
    {
        Rig r(true, &mulaw);
        ASSERT_TRUE(r.c->Active());
        const WAVEFORMATEX* shown = r.c->CopyFormat();
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(shown->wBitsPerSample, 16);
        EXPECT_EQ(shown->nChannels, 2);
        EXPECT_EQ(shown->nSamplesPerSec, 8000u);
        // 1000 bytes of loud mu-law (0x80 and 0x00 are its extremes) are 2000 bytes of PCM.
        std::vector<std::uint8_t> loud(1000);
        for (size_t i = 0; i < loud.size(); ++i)
            loud[i] = (i / 2) % 2 ? 0x80 : 0x00;
        r.c->BufferArrived(loud.data(), static_cast<int>(loud.size()));
        EXPECT_EQ(r.c->CopySize(), 2000);
        TAvConnector::RunPass();
        ASSERT_EQ(r.fed.size(), 1u);
        EXPECT_GT(r.level->LevelSpots(), 0);
    }
    Rig off(true, &mulaw, false);
    EXPECT_FALSE(off.c->Active()) << "without AutoConvert non-PCM input is passed on, not shown";
}

TEST(AvConnector, SlotsSmallBuffersAndTheLoopOnTheMessageQueue) {
    Rig r;
    // One meter in one slot only.
    r.c->SetLevel2(r.level);
    EXPECT_EQ(r.c->Level2(), nullptr);
    // A buffer shorter than one block feeds nothing and disarms at once.
    r.Arrive(150);
    TAvConnector::RunPass();
    EXPECT_TRUE(r.fed.empty());
    EXPECT_FALSE(r.c->Armed(dgLevels));
    // The loop runs by itself from the hidden window's messages: with the clock standing, the
    // first block is fed and the loop then waits (no pass is pending) for the next due time.
    r.Arrive();
    QTRY_COMPARE_WITH_TIMEOUT(r.fed.size(), size_t{1}, 5000);
    const std::int64_t t0 = FakeNow;
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(r.fed.size(), 1u);
    // The next block is due, but the next pass comes a display frame after the last one: then
    // it feeds both blocks due by that time.
    FakeNow = t0 + 6250;
    QTest::qWait(50); // three frames of the real clock, which the loop's timer runs on
    EXPECT_EQ(r.fed.size(), 1u);
    FakeNow = t0 + TAvConnector::FramePeriodUs();
    QTRY_COMPARE_WITH_TIMEOUT(r.fed.size(), size_t{3}, 5000);
    EXPECT_EQ(r.fed[2].due, t0 + 12'500);
    // A buffer arriving within a frame of that pass waits for the frame too. It came early:
    // it follows the seven blocks left of the first one, and the frame feeds those due by then.
    const std::int64_t t1 = FakeNow;
    FakeNow = t1 + 1000;
    r.Arrive();
    QTest::qWait(50);
    EXPECT_EQ(r.fed.size(), 3u);
    FakeNow = t1 + TAvConnector::FramePeriodUs();
    QTRY_COMPARE_WITH_TIMEOUT(r.fed.size(), size_t{6}, 5000);
    EXPECT_EQ(r.fed[5].due, t0 + 5 * 6250);
    FakeNow = t0 + 62'500;
    QTRY_COMPARE_WITH_TIMEOUT(r.fed.size(), size_t{11}, 5000);
    EXPECT_EQ(r.fed.back().due, t0 + 62'500) << "the new buffer's first block, after the old";
    // A removed meter leaves its slot.
    r.level->Free();
    EXPECT_EQ(r.c->Level1(), nullptr);
    r.level = nullptr;
    const size_t before = r.fed.size();
    r.Arrive();
    TAvConnector::RunPass();
    EXPECT_EQ(r.fed.size(), before);
}

TEST(AvConnector, TheLoopMadeAgainAfterTheLastConnectorWentRunsByItself) {
    {
        Rig r;
        r.Arrive(); // posts a pass, which goes with the loop's window
    }
    EXPECT_EQ(TAvConnector::RegisteredCount(), 0);
    Rig r;
    r.Arrive();
    QTRY_COMPARE_WITH_TIMEOUT(r.fed.size(), size_t{1}, 5000);
}

TEST(AvConnector, SwitchingOffPausingAndStoppingClearOrKeepTheMeter) {
    Rig r;
    r.Arrive();
    TAvConnector::RunPass();
    ASSERT_GT(r.level->LevelSpots(), 0);
    // Off: the meter drops to zero at once and no block follows.
    r.c->SetEnabled(false);
    EXPECT_EQ(r.level->LevelSpots(), 0);
    EXPECT_FALSE(r.c->Running());
    FakeNow += 6250;
    TAvConnector::RunPass();
    EXPECT_EQ(r.fed.size(), 1u);
    r.c->SetEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(r.c->Running(), 5000);

    // Paused: the copy turns silent and the re-arm tick keeps feeding it, so the meter falls.
    r.Arrive();
    TAvConnector::RunPass();
    ASSERT_GT(r.level->LevelSpots(), 0);
    r.c->Paused();
    ASSERT_NE(r.c->RearmClient(), nullptr);
    r.Arrive(); // ignored while paused
    for (int i = 0; i < 3; ++i)
        TimerServiceTick(); // 75 ms: one buffer length
    for (int i = 0; i < 12; ++i) {
        TAvConnector::RunPass();
        FakeNow += 6250;
    }
    EXPECT_EQ(r.level->LevelSpots(), 0);
    r.c->Restarted();
    EXPECT_EQ(r.c->RearmClient(), nullptr);

    // Stopping without a refresh leaves the last picture; with one it clears the meter.
    r.Arrive();
    TAvConnector::RunPass();
    ASSERT_GT(r.level->LevelSpots(), 0);
    r.c->SetRefreshOnStop(false);
    r.c->Stopped();
    EXPECT_GT(r.level->LevelSpots(), 0);
    EXPECT_FALSE(r.c->Active());
    r.c->SetRefreshOnStop(true);
    r.c->Started();
    QCoreApplication::processEvents();
    r.Arrive();
    TAvConnector::RunPass();
    r.c->Stopped();
    EXPECT_EQ(r.level->LevelSpots(), 0);
}

TEST(AvConnector, WithoutTheRealTimeLoopOnlyTheFirstBlockOfEachBufferIsShown) {
    Rig r(false);
    EXPECT_FALSE(r.c->Running());
    r.Arrive();
    EXPECT_EQ(r.fed.size(), 1u); // fed on arrival, on the delivering thread
    FakeNow += 100'000;
    TAvConnector::RunPass();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(r.fed.size(), 1u);
    r.Arrive();
    EXPECT_EQ(r.fed.size(), 2u);
    // The mode cannot change while the chain is open.
    try {
        r.c->SetRealTime(true);
        ADD_FAILURE() << "no error";
    } catch (const EAvConnectorError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Change to property while device was open"));
    }
    EXPECT_FALSE(r.c->RealTime());
}

} // namespace
