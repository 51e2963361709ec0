#include "audio/display/AvLevel.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <vector>

namespace {

// The peak tick is driven by hand: no platform timer runs while a test holds this.
struct ManualTicks {
    ManualTicks() { TimerServiceSetManual(true); }
    ~ManualTicks() { TimerServiceSetManual(false); }
};

// The microphone page's meter: vertical 17 x 191, 16-bit stereo, light blue and yellow zones.
struct WizardMeter {
    ManualTicks manual;
    TForm form{nullptr};
    TAvLevel* level;
    int pcmOverflows = 0;
    int gainOverflows = 0;
    int paints = 0;

    WizardMeter() {
        form.SetBounds(0, 0, 60, 220);
        level = new TAvLevel(&form);
        level->SetParent(&form);
        level->SetKind(lkVertical);
        level->SetBounds(10, 10, 17, 191);
        level->SetBar1Color(15588544);
        level->SetBar2Color(clYellow);
        level->SetBitLength(b16Bit);
        level->SetMode(mStereo);
        level->OnPcmOverflow = [this](TObject*) { ++pcmOverflows; };
        level->OnGainOverflow = [this](TObject*) { ++gainOverflows; };
        level->OnPaint = [this](TObject*) { ++paints; };
        form.Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
        QCoreApplication::processEvents();
    }

    // A block of Samples() stereo frames, every frame (l, r).
    void Block(std::int16_t l, std::int16_t r) {
        std::vector<std::int16_t> b(2 * level->Samples());
        for (std::size_t i = 0; i < b.size(); i += 2) {
            b[i] = l;
            b[i + 1] = r;
        }
        level->ProcessBlock(b.data());
    }
    int LitFor(std::int16_t v) {
        Block(v, v);
        return level->LevelSpots();
    }
    // The screen colour of spot n (counted from 1 at the bottom), in the middle of its row.
    QRgb Spot(int n) const {
        const int y = 1 + level->InnerHeight() - level->SpotMargin() - 1 - 2 * (n - 1);
        return level->ScreenImage().pixel(1 + 7, y);
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i)
            TimerServiceTick();
        QCoreApplication::processEvents(); // the repaint the tick hands to the main thread
    }
};

constexpr QRgb kLightBlue = qRgb(166, 202, 240);
constexpr QRgb kYellow = qRgb(255, 255, 0);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kDarkCyan = qRgb(0, 128, 128);
constexpr QRgb kDarkRed = qRgb(128, 0, 0);

} // namespace

TEST(AvLevel, NewMeterDefaults) {
    TAvLevel l(nullptr);
    EXPECT_EQ(l.Width(), 200);
    EXPECT_EQ(l.Height(), 17);
    EXPECT_EQ(l.Color(), clBlack);
    EXPECT_FALSE(l.ParentFont());
    EXPECT_EQ(l.Font()->Name(), QStringLiteral("Small Fonts"));
    EXPECT_EQ(l.Font()->Size(), 7);
    EXPECT_EQ(l.BlockBytes(), 50);
    EXPECT_EQ(l.Model().GainFactor(), 8);
    EXPECT_FLOAT_EQ(l.Model().DecayFactor(), 0.0001f);
    EXPECT_EQ(l.Model().DecayLength(), 1);
    EXPECT_EQ(l.DIB()->BitsPerPixel(), 8);
    EXPECT_EQ(l.BackgroundSurface()->BitsPerPixel(), 8);
    // Horizontal 198 x 15 inside the bevel: 99 spots of 1 with 1 between.
    EXPECT_EQ(l.SpotCount(), 99);
    EXPECT_EQ(l.SpotMargin(), 0);
    ASSERT_NE(l.TimerClient(), nullptr);
    EXPECT_FALSE(TimerClientEnabled(l.TimerClient())) << "no marker, no tick";
    EXPECT_EQ(l.Value(), 0);
    // Published for the forms.
    EXPECT_TRUE(SetPropValue(&l, "Sensitivy", -40));
    EXPECT_EQ(l.Sensitivy(), -40);
    EXPECT_EQ(GetPropValue(&l, "Bar3Color").toInt(), 255);
}

TEST(AvLevel, WizardMeterGeometry) {
    WizardMeter m;
    TAvLevel* l = m.level;
    EXPECT_EQ(l->InnerWidth(), 15);
    EXPECT_EQ(l->InnerHeight(), 189);
    EXPECT_EQ(l->SpotCount(), 95);
    EXPECT_EQ(l->SpotMargin(), 0);
    EXPECT_EQ(l->Point1Spot(), 47);
    EXPECT_EQ(l->Point2Spot(), 80);
    EXPECT_EQ(l->BlockBytes(), 200);
}

TEST(AvLevel, StereoAveragingAndChannels) {
    WizardMeter m;
    TAvLevel* l = m.level;
    // chBoth averages the two channels of each frame, truncating toward zero.
    m.Block(1001, -2000);
    EXPECT_EQ(l->RawLevel(), 499);
    l->SetChannel(chLeft);
    m.Block(1001, -2000);
    EXPECT_EQ(l->RawLevel(), 1001);
    l->SetChannel(chRight);
    m.Block(1001, -2000);
    EXPECT_EQ(l->RawLevel(), 2000);
    // DC offsets are subtracted before the magnitude is taken.
    l->SetDCOffsetR(-100);
    EXPECT_EQ(l->DCOffsetR(), -100);
    m.Block(0, -2000);
    EXPECT_EQ(l->RawLevel(), 1900);
    // A short buffer is read only as far as it goes.
    l->SetChannel(chLeft);
    std::int16_t frame[2] = {1234, 0};
    l->ProcessBlock(frame, 4);
    EXPECT_EQ(l->RawLevel(), 1234);
}

TEST(AvLevel, Overflows) {
    WizardMeter m;
    m.Block(-32768, -32768);
    EXPECT_EQ(m.pcmOverflows, 1);
    EXPECT_EQ(m.gainOverflows, 0);
    EXPECT_EQ(m.level->LevelSpots(), 95);

    m.level->SetGain(8);
    EXPECT_EQ(m.level->Model().GainFactor(), 16);
    m.Block(32767, 32767);
    EXPECT_EQ(m.pcmOverflows, 2); // full scale itself counts as a sample overflow
    EXPECT_EQ(m.gainOverflows, 1);
    EXPECT_EQ(m.level->LevelSpots(), 95);
}

TEST(AvLevel, EightBitSamples) {
    ManualTicks manual;
    TAvLevel l(nullptr);
    int overflows = 0;
    l.OnPcmOverflow = [&](TObject*) { ++overflows; };
    std::vector<std::uint8_t> b(50, 128);
    b[7] = 0;
    l.ProcessBlock(b.data());
    EXPECT_EQ(l.RawLevel(), 32768);
    EXPECT_EQ(overflows, 1);
    b[7] = 255;
    l.ProcessBlock(b.data());
    EXPECT_EQ(l.RawLevel(), 32512);
    EXPECT_EQ(overflows, 1);
    // Stereo, both channels: the frame's average is centred before scaling.
    l.SetMode(mStereo);
    EXPECT_EQ(l.BlockBytes(), 100);
    std::vector<std::uint8_t> s(100, 128);
    s[0] = 192;
    s[1] = 128;
    l.ProcessBlock(s.data());
    EXPECT_EQ(l.RawLevel(), 32 * 256);
}

// The numbers themselves are the model's (AvLevelModelTest); here the meter's own settings reach
// it.
TEST(AvLevel, SettingsReachTheModel) {
    WizardMeter m;
    TAvLevel* l = m.level;
    l->SetValue(50);
    EXPECT_EQ(l->RawLevel(), 16384);
    EXPECT_EQ(l->LevelSpots(), 79);
    EXPECT_EQ(l->Value(), 51);
    l->SetLogAmp(false);
    EXPECT_EQ(m.LitFor(16675), 48);
    l->SetDecay(3);
    l->SetDecayMode(dmUniform);
    EXPECT_EQ(l->Model().DecayLength(), 4);
    EXPECT_EQ(m.LitFor(32767), 95);
    EXPECT_EQ(m.LitFor(0), 47); // the average of full scale and silence, on the linear scale
    l->SetDirection(dirSymetric);
    EXPECT_TRUE(l->Model().Halved());
}

TEST(AvLevel, ScreenShowsZonesAndInactiveSpots) {
    WizardMeter m;
    m.Block(32767, 32767);
    EXPECT_EQ(m.Spot(1), kLightBlue);
    EXPECT_EQ(m.Spot(47), kLightBlue);
    EXPECT_EQ(m.Spot(48), kYellow);
    EXPECT_EQ(m.Spot(80), kYellow);
    EXPECT_EQ(m.Spot(81), kRed);
    EXPECT_EQ(m.Spot(95), kRed);
    m.Block(0, 0);
    EXPECT_EQ(m.Spot(1), kDarkCyan);
    EXPECT_EQ(m.Spot(80), kDarkCyan);
    EXPECT_EQ(m.Spot(81), kDarkRed);
    // Spaces between spots and the bevel stay as they are.
    const QImage& img = m.level->ScreenImage();
    EXPECT_EQ(img.pixel(8, 1 + 187), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(0, 0), ToQColor(clBtnShadow).rgb());
}

TEST(AvLevel, RedrawsOnlyWhenSomethingChanged) {
    WizardMeter m;
    m.level->SetNumPeaks(0);
    m.paints = 0;
    m.Block(4370, 4370);
    EXPECT_EQ(m.paints, 1);
    m.Block(4370, 4370); // same lit count
    m.Block(4380, 4380); // still 48 spots
    EXPECT_EQ(m.paints, 1);
    m.Block(0, 0);
    EXPECT_EQ(m.paints, 2);
    m.Block(0, 0); // silence on silence stops before any work
    EXPECT_EQ(m.paints, 2);
    // A steady level on a spot boundary, 48 and 47 by turns, draws as it arrives only.
    for (int i = 0; i < 20; ++i)
        m.Block(i % 2 ? 4369 : 4370, i % 2 ? 4369 : 4370);
    EXPECT_EQ(m.paints, 4);
    m.Block(0, 0);

    // With the marker on: a steady level keeps the marker where it is, no redraw.
    m.level->SetNumPeaks(1);
    m.Block(4370, 4370);
    const int after = m.paints;
    m.Block(4370, 4370);
    EXPECT_EQ(m.paints, after);

    // The blocks of one feed are each analysed, and drawn once at the end: the last level, the
    // highest peak.
    m.level->BeginFeed();
    m.Block(32767, 32767);
    m.level->BeginFeed(); // nested
    m.Block(17715, 17715);
    m.level->EndFeed();
    m.Block(4370, 4370);
    EXPECT_EQ(m.paints, after);
    m.level->EndFeed();
    EXPECT_EQ(m.paints, after + 1);
    EXPECT_EQ(m.level->LevelSpots(), 48);
    EXPECT_EQ(m.level->PeakSpot(), 95);
    EXPECT_EQ(m.Spot(48), kYellow);
    EXPECT_EQ(m.Spot(49), kDarkCyan);
    EXPECT_EQ(m.Spot(95), kRed);
    // A feed that changes nothing draws nothing.
    m.level->BeginFeed();
    m.Block(4370, 4370);
    m.level->EndFeed();
    EXPECT_EQ(m.paints, after + 1);
}

// The microphone page's meter is fed every 6.25 ms and draws at most every 16 ms: each block is
// still analysed at once, and the picture always catches up with the last level.
TEST(AvLevel, ADrawIntervalDefersPicturesButNeverLosesTheLastLevel) {
    WizardMeter m;
    m.level->SetNumPeaks(0);
    // An interval no two statements in a row can outlast, however loaded the machine.
    m.level->SetDrawInterval(1000);
    m.level->ResetLevel(); // a reset draws at once
    m.paints = 0;
    m.Block(32767, 32767);
    EXPECT_EQ(m.level->LevelSpots(), 95);
    m.Block(4370, 4370);
    EXPECT_EQ(m.level->LevelSpots(), 48);
    EXPECT_EQ(m.paints, 0);
    EXPECT_EQ(m.Spot(1), kDarkCyan) << "the picture waits for the interval";
    // No level follows: the picture of the last one comes by itself, once.
    QTRY_COMPARE_WITH_TIMEOUT(m.paints, 1, 10000);
    EXPECT_EQ(m.Spot(47), kLightBlue);
    EXPECT_EQ(m.Spot(48), kYellow);
    EXPECT_EQ(m.Spot(49), kDarkCyan);

    // A level that stays where a deferred change left it draws once the interval has passed.
    m.Block(0, 0);
    EXPECT_EQ(m.paints, 1);
    m.level->SetDrawInterval(20);
    QTest::qWait(30);
    m.Block(0, 0);
    EXPECT_EQ(m.paints, 2);
    EXPECT_EQ(m.Spot(1), kDarkCyan);
    // Past the interval a change draws at once; a reset always does.
    QTest::qWait(30);
    m.Block(32767, 32767);
    EXPECT_EQ(m.paints, 3);
    m.level->SetDrawInterval(1000);
    m.level->ResetLevel();
    EXPECT_EQ(m.paints, 4);
    EXPECT_EQ(m.Spot(1), kDarkCyan);
    // Switching the interval off shows a deferred change at once.
    m.Block(32767, 32767);
    EXPECT_EQ(m.paints, 4);
    m.level->SetDrawInterval(0);
    EXPECT_EQ(m.paints, 5);
    EXPECT_EQ(m.Spot(95), kRed);
}

TEST(AvLevel, PeakHoldsThenVanishes) {
    WizardMeter m;
    // The tick sleeps while no marker shows; a marker wakes it, and it sleeps again once the
    // marker is gone.
    EXPECT_FALSE(TimerClientEnabled(m.level->TimerClient()));
    m.Block(32767, 32767);
    EXPECT_TRUE(TimerClientEnabled(m.level->TimerClient()));
    m.Block(0, 0);
    EXPECT_EQ(m.level->LevelSpots(), 0); // the bar drops at once
    EXPECT_EQ(m.level->PeakSpot(), 95);
    EXPECT_EQ(m.level->Model().PeakHold(), 41);
    EXPECT_EQ(m.Spot(95), kRed); // the marker
    EXPECT_EQ(m.Spot(94), kDarkRed);
    m.Ticks(40);
    EXPECT_EQ(m.level->PeakSpot(), 95);
    EXPECT_EQ(m.Spot(95), kRed);
    m.Ticks(1);
    EXPECT_EQ(m.level->PeakSpot(), 0);
    EXPECT_EQ(m.Spot(95), kDarkRed); // shown by the main thread without waiting for a block
    EXPECT_FALSE(m.level->Model().RedrawPending());
    EXPECT_FALSE(TimerClientEnabled(m.level->TimerClient()));
}

TEST(AvLevel, PeakFallsSpotBySpot) {
    WizardMeter m;
    m.level->SetPeakDelay(0);
    m.level->SetPeakSpeed(2);
    m.Block(32767, 32767);
    m.Block(0, 0);
    EXPECT_EQ(m.level->Model().PeakHold(), 1);
    m.Ticks(1);
    EXPECT_EQ(m.level->PeakSpot(), 94);
    EXPECT_EQ(m.level->Model().PeakHold(), 2);
    m.Ticks(2);
    EXPECT_EQ(m.level->PeakSpot(), 93);
    EXPECT_EQ(m.Spot(93), kRed);
    EXPECT_EQ(m.Spot(94), kDarkRed);
    // A new louder block lifts the marker again.
    m.Block(4370, 4370);
    EXPECT_EQ(m.level->PeakSpot(), 93);
    m.Block(32767, 32767);
    EXPECT_EQ(m.level->PeakSpot(), 95);
}

TEST(AvLevel, SeveralPeakSpots) {
    WizardMeter m;
    m.level->SetNumPeaks(3);
    m.Block(17715, 17715); // 81
    m.Block(0, 0);
    EXPECT_EQ(m.Spot(81), kRed);
    EXPECT_EQ(m.Spot(80), kYellow);
    EXPECT_EQ(m.Spot(79), kYellow);
    EXPECT_EQ(m.Spot(78), kDarkCyan);
    EXPECT_EQ(m.Spot(82), kDarkRed);
}

TEST(AvLevel, NoPeaksStopsTheTick) {
    WizardMeter m;
    m.Block(32767, 32767);
    m.level->SetNumPeaks(0);
    EXPECT_EQ(m.level->PeakSpot(), 0);
    EXPECT_FALSE(TimerClientEnabled(m.level->TimerClient()));
    m.Block(32767, 32767);
    m.Block(0, 0);
    EXPECT_EQ(m.level->PeakSpot(), 0);
    EXPECT_EQ(m.Spot(95), kDarkRed);
    m.level->SetNumPeaks(2);
    EXPECT_FALSE(TimerClientEnabled(m.level->TimerClient()));
    m.Block(32767, 32767);
    EXPECT_TRUE(TimerClientEnabled(m.level->TimerClient()));
    // Disabling also stops it; enabling again waits for the next marker, and starts it once.
    m.level->SetEnabled(false);
    EXPECT_FALSE(TimerClientEnabled(m.level->TimerClient()));
    m.level->SetEnabled(true);
    EXPECT_FALSE(TimerClientEnabled(m.level->TimerClient()));
    m.Block(32767, 32767);
    EXPECT_TRUE(TimerClientEnabled(m.level->TimerClient()));
    m.level->SetNumPeaks(0);
    EXPECT_FALSE(TimerClientEnabled(m.level->TimerClient())) << "one enable, one disable";
}

TEST(AvLevel, DisabledMeterIgnoresBlocks) {
    WizardMeter m;
    m.Block(32767, 32767);
    m.level->SetEnabled(false);
    EXPECT_EQ(m.level->LevelSpots(), 0);
    EXPECT_EQ(m.level->PeakSpot(), 0);
    m.Block(32767, 32767);
    EXPECT_EQ(m.level->RawLevel(), 0);
    m.level->Repaint();
    EXPECT_EQ(m.Spot(1), kDarkCyan);
    m.level->SetVisible(false);
    m.level->SetEnabled(true);
    m.Block(32767, 32767);
    EXPECT_EQ(m.level->RawLevel(), 0); // invisible: ignored too
}

TEST(AvLevel, KindAndSpotWidthClamps) {
    ManualTicks manual;
    TAvLevel l(nullptr);
    l.SetKind(lkVertical);
    EXPECT_EQ(l.Width(), 17);
    EXPECT_EQ(l.Height(), 200);
    l.SetKind(lkHorizontal);
    EXPECT_EQ(l.Width(), 200);
    l.SetBounds(0, 0, 191, 17); // bar 189 long
    l.SetSpotWidth(100);
    EXPECT_EQ(l.SpotWidth(), 63);
    EXPECT_EQ(l.SpotCount(), 2); // (189 + 1) / 64
    EXPECT_EQ(l.SpotMargin(), (189 - 127) / 2);
    l.SetSpotWidth(0);
    EXPECT_EQ(l.SpotWidth(), 1);
    l.SetSpotSpace(11);
    EXPECT_EQ(l.SpotSpace(), 10);
    l.SetSpotSpace(-1);
    EXPECT_EQ(l.SpotSpace(), 0);
    EXPECT_EQ(l.SpotCount(), 189);
    l.SetPoint1(0);
    EXPECT_EQ(l.Point1(), 1);
    l.SetPoint2(101);
    EXPECT_EQ(l.Point2(), 100);
    EXPECT_EQ(l.Point2Spot(), 189);
    l.SetSensitivy(-100);
    EXPECT_EQ(l.Sensitivy(), -90);
    l.SetSensitivy(0);
    EXPECT_EQ(l.Sensitivy(), -9);
    l.SetGain(33);
    EXPECT_EQ(l.Gain(), 0);
    l.SetGain(-8);
    EXPECT_EQ(l.Model().GainFactor(), 0);
    l.SetSamples(0);
    EXPECT_EQ(l.Samples(), 1);
    l.SetNumPeaks(9);
    EXPECT_EQ(l.NumPeaks(), 5);
    l.SetPeakDelay(99);
    EXPECT_EQ(l.PeakDelay(), 50);
    l.SetPeakSpeed(-3);
    EXPECT_EQ(l.PeakSpeed(), 0);
    // A bevel change moves the inner rectangle as a resize does.
    l.Bevel()->SetBorderWidth(2);
    EXPECT_EQ(l.InnerWidth(), 191 - 6);
}

TEST(AvLevel, FormatsAndBlockSize) {
    ManualTicks manual;
    TAvLevel l(nullptr);
    WAVEFORMATEX f{};
    BuildPcmFormat(&f, 16, 2, 8000);
    l.SetFormat(&f);
    EXPECT_EQ(l.BitLength(), b16Bit);
    EXPECT_EQ(l.Mode(), mStereo);
    EXPECT_EQ(l.BlockBytes(), 200);
    l.SetSamples(10);
    EXPECT_EQ(l.BlockBytes(), 40);
    BuildPcmFormat(&f, 24, 2, 8000);
    EXPECT_THROW(l.SetFormat(&f), EAvLevelError);
    EXPECT_THROW(l.SetFormat(nullptr), EAvLevelError);
    EXPECT_EQ(l.BitLength(), b16Bit);
    BuildPcmFormat(&f, 8, 1, 11025);
    l.SetFormat(&f);
    EXPECT_EQ(l.BlockBytes(), 10);
    try {
        l.SetFormat(nullptr);
    } catch (const EAvLevelError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid WaveFormat"));
    }
}

TEST(AvLevel, BitsPerPixel) {
    WizardMeter m;
    EXPECT_THROW(m.level->SetBitsPerPixel(16), EAvDIBError);
    m.level->SetBitsPerPixel(24);
    EXPECT_EQ(m.level->DIB()->BitsPerPixel(), 24);
    EXPECT_EQ(m.level->BackgroundSurface()->BitsPerPixel(), 24);
    m.Block(32767, 32767);
    // True colour shows the zone colour itself.
    EXPECT_EQ(m.Spot(1), qRgb(192, 220, 237));
    EXPECT_EQ(m.Spot(95), kRed);
}

TEST(AvLevel, DirectionsAndDots) {
    ManualTicks manual;
    TForm form(nullptr);
    form.SetBounds(0, 0, 240, 60);
    auto* l = new TAvLevel(&form);
    l->SetParent(&form);
    l->SetBounds(10, 10, 200, 17); // inner 198 x 15, 99 spots
    l->SetNumPeaks(0);
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    l->SetLogAmp(false);
    l->SetValue(100);
    const QImage* img = &l->ScreenImage();
    EXPECT_EQ(img->pixel(1, 8), qRgb(0, 255, 255)); // spot 1 at the left
    EXPECT_EQ(img->pixel(2, 8), qRgb(0, 0, 0));     // the space
    l->SetDirection(dirReversed);
    l->SetValue(0);
    l->SetLevel(910); // one spot lit, at the right end
    img = &l->ScreenImage();
    EXPECT_EQ(l->LevelSpots(), 1);
    EXPECT_EQ(img->pixel(1 + 197, 8), qRgb(0, 255, 255));
    EXPECT_EQ(img->pixel(2, 8), qRgb(128, 0, 0));
    // Dotted active spots light only every second row.
    l->SetActiveDoted(true);
    l->SetValue(0);
    l->SetLevel(910);
    img = &l->ScreenImage();
    EXPECT_EQ(img->pixel(1 + 197, 1), qRgb(0, 255, 255));
    EXPECT_EQ(img->pixel(1 + 197, 2), qRgb(0, 128, 128));
    // Symmetric: half the spots, drawn as a band of five.
    l->SetDirection(dirSymetric);
    l->SetValue(100);
    EXPECT_EQ(l->LevelSpots(), 49);
}

TEST(AvLevel, OwnBarDrawing) {
    WizardMeter m;
    int calls = 0, spots = -1, peak = -1;
    TRect rect;
    m.level->SetOnDrawBar([&](TObject* sender, TAvDIBCanvas* dib, const TRect& r, int n, int p) {
        EXPECT_EQ(sender, m.level);
        EXPECT_EQ(dib, m.level->DIB());
        ++calls;
        rect = r;
        spots = n;
        peak = p;
        dib->SetDrawColor(clWhite);
        dib->Clear();
    });
    m.Block(4370, 4370);
    EXPECT_GE(calls, 1);
    EXPECT_EQ(rect, Rect(0, 0, 15, 189));
    EXPECT_EQ(spots, 48);
    EXPECT_EQ(peak, 48);
    EXPECT_EQ(m.Spot(1), qRgb(255, 255, 255));
    m.level->SetOnDrawBar(nullptr);
    m.level->Repaint();
    EXPECT_EQ(m.Spot(1), kLightBlue);
}

TEST(AvLevel, ResetLevelClearsEverything) {
    WizardMeter m;
    m.level->SetDecayMode(dmUniform);
    m.Block(32767, 32767);
    m.level->ResetLevel();
    EXPECT_EQ(m.level->LevelSpots(), 0);
    EXPECT_EQ(m.level->PeakSpot(), 0);
    EXPECT_EQ(m.level->Model().PeakHold(), 0);
    EXPECT_EQ(m.level->RawLevel(), 0);
    EXPECT_EQ(m.Spot(1), kDarkCyan);
    EXPECT_EQ(m.Spot(95), kDarkRed);
}

TEST(AvLevel, DesignTimeShowsASampleLevel) {
    ManualTicks manual;
    TForm form(nullptr);
    form.SetDesigning(true);
    auto* l = new TAvLevel(&form);
    EXPECT_EQ(l->TimerClient(), nullptr); // no timer while designing
    l->SetBounds(0, 0, 200, 17);          // 99 spots, zones at 49 and 84
    EXPECT_EQ(l->LevelSpots(), 84 + (99 - 84) / 2);
    l->SetDesignMode(false);
    EXPECT_NE(l->TimerClient(), nullptr);
}

TEST(AvLevel, DestroyedMeterLeavesTheService) {
    ManualTicks manual;
    const int before = TimerClientCount();
    {
        TAvLevel a(nullptr), b(nullptr);
        EXPECT_EQ(TimerClientCount(), before + 2);
        a.SetValue(100);
        TimerServiceTick();
    } // a tick's queued repaint of a gone meter is dropped with it
    EXPECT_EQ(TimerClientCount(), before);
    QCoreApplication::processEvents();
}
