// The conformance suite on the simulated sound system, with its clock driven by the test.
#include "AudioConformance.h"

#include "platform/sim/SimBackend.h"

namespace {
class SimHarness : public conformance::Harness {
public:
    std::unique_ptr<IAudioBackend> MakeBackend() override {
        auto sim = std::make_unique<SimBackend>(SimConfig::Default());
        sim_ = sim.get();
        return sim;
    }
    void Let(std::uint32_t ms) override { sim_->Advance(ms); }
    bool WaitFor(const std::function<bool()>& pred, std::uint32_t maxMs) override {
        for (std::uint32_t t = 0; t < maxMs && !pred(); ++t)
            sim_->Advance(1);
        return pred();
    }
    bool ExactTiming() const override { return true; }
    bool RemoveCard(const std::string& name) override { return sim_->RemoveCard(name); }
    bool AddCard(const std::string& name) override {
        sim_->AddCard(SimConfig::StandardCard(name, true));
        return true;
    }
    bool InjectOpenFault(UINT outputId, MMRESULT code) override {
        WAVEOUTCAPSA caps{};
        if (waveOutGetDevCapsA(outputId, &caps, sizeof caps)) return false;
        sim_->SetOpenFault(caps.szPname, SimBackend::Direction::Output, code);
        return true;
    }

private:
    SimBackend* sim_ = nullptr;
};

std::unique_ptr<conformance::Harness> MakeSimHarness() {
    return std::make_unique<SimHarness>();
}
} // namespace

namespace conformance {
INSTANTIATE_TEST_SUITE_P(Sim, AudioConformance, ::testing::Values(&MakeSimHarness));
}
