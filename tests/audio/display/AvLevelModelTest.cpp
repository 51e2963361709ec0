// The level meter's numbers without a widget: the decibel and linear mappings, gain overflow,
// smoothing, the peak hold and fall, and when a level needs a picture.
#include "audio/display/AvLevelModel.h"

#include <gtest/gtest.h>

namespace {

// The microphone page's meter: 95 spots, -35 dB, logarithmic, no gain.
struct WizardModel : TAvLevelModel {
    WizardModel() { SetSpotCount(95); }
};

int LitFor(TAvLevelModel& m, int magnitude) {
    m.SetLevel(magnitude);
    return m.LevelSpots();
}

} // namespace

TEST(AvLevelModel, LogarithmicAndLinearScales) {
    WizardModel m;
    EXPECT_EQ(LitFor(m, 32767), 95);
    EXPECT_EQ(LitFor(m, 4370), 48); // the yellow zone begins at spot 48
    EXPECT_EQ(LitFor(m, 4369), 47);
    EXPECT_EQ(LitFor(m, 17715), 81); // the red zone at 81
    EXPECT_EQ(LitFor(m, 17714), 80);
    EXPECT_EQ(LitFor(m, 596), 1);
    EXPECT_EQ(LitFor(m, 595), 0);
    EXPECT_EQ(LitFor(m, 0), 0);

    // Linear: the floor is 32767 / 10^(35/20) = 582.7, nothing below it lights.
    m.SetLogAmp(false);
    EXPECT_EQ(LitFor(m, 580), 0);
    EXPECT_EQ(LitFor(m, 32767), 95);
    EXPECT_EQ(LitFor(m, 16675), 48); // halfway between the floor and full scale

    // Symmetric meters show half the count.
    m.SetLogAmp(true);
    m.SetHalved(true);
    EXPECT_EQ(LitFor(m, 32767), 47);
}

TEST(AvLevelModel, GainOverflowClampsToTheLastSpot) {
    WizardModel m;
    // -32768 measured is 32768: past full scale for the samples, not for the display.
    TAvLevelModel::TUpdate u = m.SetLevel(-32768);
    EXPECT_FALSE(u.GainOverflow);
    EXPECT_EQ(m.LevelSpots(), 95);
    EXPECT_EQ(m.RawLevel(), 32768);
    m.SetGainFactor(16); // +8 eighths: twice the magnitude
    u = m.SetLevel(32767);
    EXPECT_TRUE(u.GainOverflow);
    EXPECT_EQ(m.LevelSpots(), 95);
}

TEST(AvLevelModel, ValueAndPercent) {
    WizardModel m;
    EXPECT_EQ(TAvLevelModel::MagnitudeOfPercent(50), 16384); // 16383.5 to even
    m.SetLevel(TAvLevelModel::MagnitudeOfPercent(50));
    EXPECT_EQ(m.LevelSpots(), 79);
    EXPECT_EQ(m.Value(), 51); // 79 spots read back on the decibel scale
    m.SetLevel(TAvLevelModel::MagnitudeOfPercent(150));
    EXPECT_EQ(m.LevelSpots(), 95);
    EXPECT_EQ(m.Value(), 100);
    m.SetLogAmp(false);
    m.SetLevel(TAvLevelModel::MagnitudeOfPercent(100));
    EXPECT_EQ(m.Value(), 100);
    m.SetLevel(TAvLevelModel::MagnitudeOfPercent(0));
    EXPECT_EQ(m.LevelSpots(), 0);
    EXPECT_EQ(m.Value(), 0);
}

TEST(AvLevelModel, Smoothing) {
    WizardModel m;
    m.SetNumPeaks(0);
    m.SetDecay(16);
    EXPECT_NEAR(m.DecayFactor(), 0.99986, 1e-5);
    EXPECT_EQ(m.DecayLength(), 30);
    m.SetDecay(1);
    EXPECT_FLOAT_EQ(m.DecayFactor(), 0.01f);
    EXPECT_EQ(m.DecayLength(), 1);
    m.SetDecay(40);
    EXPECT_EQ(m.Decay(), 16);

    // Moving average over DecayLength blocks: 32767, then silence, averaged over 1, 2, 3, 4.
    m.SetDecay(3);
    EXPECT_EQ(m.DecayLength(), 4);
    m.SetDecayMode(dmUniform);
    EXPECT_EQ(LitFor(m, 32767), 95);
    EXPECT_EQ(LitFor(m, 0), 79); // 16383
    EXPECT_EQ(LitFor(m, 0), 69); // 10922
    EXPECT_EQ(LitFor(m, 0), 62); // 8191
    EXPECT_EQ(LitFor(m, 0), 0);  // the loud block has left the window

    // Step up: rises at once, falls with the envelope.
    m.SetDecayMode(dmStepUp);
    m.SetDecay(16);
    EXPECT_EQ(LitFor(m, 32767), 95);
    EXPECT_EQ(LitFor(m, 0), 95); // the envelope barely decays in one block
    // Exponential: rises slowly.
    m.SetDecayMode(dmExponential);
    m.SetDecay(1); // factor 0.01: nearly the input
    EXPECT_EQ(LitFor(m, 32767), 95);
    m.SetDecay(16);
    m.ResetDecay();
    EXPECT_LT(LitFor(m, 32767), 95);
}

TEST(AvLevelModel, PeakHoldsThenVanishesOrFallsSpotBySpot) {
    WizardModel m;
    EXPECT_TRUE(m.SetLevel(32767).PeakRaised);
    m.SetLevel(0);
    EXPECT_EQ(m.LevelSpots(), 0); // the bar drops at once
    EXPECT_EQ(m.PeakSpot(), 95);
    EXPECT_EQ(m.PeakHold(), 41); // 2 x PeakDelay + 1 ticks
    for (int i = 0; i < 40; ++i) {
        const TAvLevelModel::TTick t = m.Tick();
        ASSERT_TRUE(t.Marker && !t.Changed) << "tick " << i;
    }
    EXPECT_EQ(m.PeakSpot(), 95);
    TAvLevelModel::TTick t = m.Tick();
    EXPECT_TRUE(t.Changed);
    EXPECT_FALSE(t.Marker);
    EXPECT_EQ(m.PeakSpot(), 0);
    EXPECT_TRUE(m.TakeRedrawPending());
    EXPECT_FALSE(m.RedrawPending());
    EXPECT_FALSE(m.Tick().Marker); // nothing left to do

    m.SetPeakDelay(0);
    m.SetPeakSpeed(2);
    m.SetLevel(32767);
    m.SetLevel(0);
    EXPECT_EQ(m.PeakHold(), 1);
    t = m.Tick();
    EXPECT_TRUE(t.Changed && t.Marker);
    EXPECT_EQ(m.PeakSpot(), 94);
    EXPECT_EQ(m.PeakHold(), 2);
    m.Tick();
    m.Tick();
    EXPECT_EQ(m.PeakSpot(), 93);
    // A quieter level leaves the marker; a louder one lifts it again.
    EXPECT_FALSE(m.SetLevel(4370).PeakRaised);
    EXPECT_EQ(m.PeakSpot(), 93);
    EXPECT_TRUE(m.SetLevel(32767).PeakRaised);
    EXPECT_EQ(m.PeakSpot(), 95);

    // No markers: none is set, and the tick has nothing to do.
    m.ClearPeak();
    m.SetNumPeaks(0);
    EXPECT_FALSE(m.SetLevel(4370).PeakRaised);
    EXPECT_EQ(m.PeakSpot(), 0);
    m.ResetLevel();
    EXPECT_EQ(m.LevelSpots(), 0);
    EXPECT_EQ(m.RawLevel(), 0);
}

TEST(AvLevelModel, RedrawsOnlyWhenTheCountOrTheMarkerMoves) {
    WizardModel m;
    m.SetNumPeaks(0);
    EXPECT_TRUE(m.SetLevel(4370).Redraw);
    EXPECT_FALSE(m.SetLevel(4370).Redraw); // the same count
    EXPECT_FALSE(m.SetLevel(4380).Redraw); // still 48 spots
    EXPECT_TRUE(m.SetLevel(0).Redraw);
    EXPECT_FALSE(m.SetLevel(0).Redraw); // silence on silence

    // With a marker: it moves up with the level, then stays where a steady level keeps it.
    m.SetNumPeaks(1);
    EXPECT_TRUE(m.SetLevel(4370).Redraw);
    EXPECT_EQ(m.PeakSpot(), 48);
    EXPECT_FALSE(m.SetLevel(4370).Redraw);
    // A marker the tick has moved is drawn by the next level, even one that changes nothing.
    m.SetPeakDelay(0);
    EXPECT_FALSE(m.SetLevel(4370).Redraw); // holds the marker for one tick only
    EXPECT_TRUE(m.SetLevel(0).Redraw);
    m.Tick();
    EXPECT_TRUE(m.RedrawPending());
    EXPECT_TRUE(m.SetLevel(0).Redraw);
    EXPECT_FALSE(m.RedrawPending());
}

// A steady tone whose level sits on a spot boundary maps to one spot and the next by turns (the
// microphone test on PipeWire: a redraw on nearly every pass). Only the first two levels draw;
// a real change still draws at once, and a real return by one spot with the next level.
TEST(AvLevelModel, ASteadyLevelOnASpotBoundaryDrawsOnlyWhenItArrives) {
    WizardModel m;
    int redraws = 0;
    for (int i = 0; i < 100; ++i)
        redraws += m.SetLevel(i % 2 ? 4369 : 4370).Redraw; // 48, 47, 48, ...
    EXPECT_EQ(redraws, 2);
    EXPECT_EQ(m.LevelSpots(), 47);
    EXPECT_EQ(m.PeakSpot(), 48); // the marker shows the louder spot meanwhile

    // A level that really returns by one spot shows with the next level that confirms it.
    EXPECT_FALSE(m.SetLevel(4370).Redraw);
    EXPECT_TRUE(m.SetLevel(4370).Redraw);
    EXPECT_EQ(m.LevelSpots(), 48);
    // A change of more than one spot, or a step on in the same direction, shows at once.
    EXPECT_TRUE(m.SetLevel(4100).Redraw);
    EXPECT_EQ(m.LevelSpots(), 46);
    EXPECT_TRUE(m.SetLevel(3990).Redraw);
    EXPECT_EQ(m.LevelSpots(), 45);
    EXPECT_TRUE(m.SetLevel(0).Redraw);
    EXPECT_EQ(m.LevelSpots(), 0);
    // The first spot and the dark meter are never held back.
    EXPECT_TRUE(m.SetLevel(596).Redraw);
    EXPECT_TRUE(m.SetLevel(0).Redraw);
    EXPECT_TRUE(m.SetLevel(596).Redraw);
    EXPECT_EQ(m.LevelSpots(), 1);
}
