#pragma once
// A test fixture on the hand-made mixer (FakeMixer.h): the mixer device and its three lines, a
// helper for mixer controls, and a helper that returns what a call raised.
#include "FakeMixer.h"
#include "audio/mixer/AvMixCtl.h"

#include <gtest/gtest.h>
#include <memory>

namespace fakemixer {

class FakeMixerTest : public ::testing::Test {
protected:
    FakeMixerTest()
        : fake(std::make_shared<FakeMixerDevice>()), installed(std::make_unique<FakeBackend>(fake)),
          mixer(std::make_unique<TAvMixerDevice>(nullptr)) {
        speakers = Line(ctDstSpeakers);
        wave = Line(ctSrcWaveOut);
        recording = Line(ctDstWaveIn);
    }
    ~FakeMixerTest() override { Pump(); }

    std::unique_ptr<TAvAudioLine> Line(TAvComponentType type) {
        auto l = std::make_unique<TAvAudioLine>(nullptr);
        l->SetMixer(mixer.get());
        l->SetComponentType(type);
        return l;
    }
    std::unique_ptr<TAvMixerControl> Control(TAvAudioLine* line, TAvControlType type) {
        auto c = std::make_unique<TAvMixerControl>(nullptr);
        c->SetAudioLine(line);
        c->SetControlType(type);
        return c;
    }

    std::shared_ptr<FakeMixerDevice> fake;
    ScopedAudioBackend installed;
    std::unique_ptr<TAvMixerDevice> mixer;
    std::unique_ptr<TAvAudioLine> speakers, wave, recording;
};

// The message of the E that f raised, or "<nothing raised>".
template <class E, class F> QString Raised(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return QStringLiteral("<nothing raised>");
}

} // namespace fakemixer
