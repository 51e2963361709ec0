// The backend conformance suite on the real sound server that tests/with-pulse.sh starts. Audio
// time is real time here: the harness waits on conditions with deadlines.
#include "../AudioConformance.h"

#include "PulseAdmin.h"
#include "platform/pulse/PulseBackend.h"

#include <cstdlib>

namespace {
class PulseHarness : public conformance::Harness {
public:
    std::unique_ptr<IAudioBackend> MakeBackend() override {
        if (!std::getenv("PULSE_SERVER")) {
            [] { GTEST_SKIP() << "no test sound server (run under tests/with-pulse.sh)"; }();
            return std::make_unique<IAudioBackend>();
        }
        auto backend = std::make_unique<PulseBackend>();
        backend_ = backend.get();
        EXPECT_TRUE(backend->Connected());
        return backend;
    }
    void Let(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    // The server plays in real time behind its own latency: the same deadline plus that latency.
    bool WaitFor(const std::function<bool()>& pred, std::uint32_t maxMs) override {
        return WaitUntil(pred, static_cast<int>(maxMs) + 500);
    }

    // A "card" is what a mixer stands for: wave output i and wave input i, i.e. the i-th sink and
    // the i-th source. Removing it unloads the modules behind both; adding loads them again.
    bool RemoveCard(const std::string& name) override {
        if (!backend_) return false;
        WAVEOUTCAPSA caps{};
        UINT id = 0;
        for (; id < waveOutGetNumDevs(); ++id)
            if (waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                name == caps.szPname)
                break;
        const auto sinks = backend_->Context().Sinks();
        const auto sources = backend_->Context().Sources();
        if (id >= sinks.size()) return false;
        PulseAdmin::Device sink, source;
        if (!admin_.FindSink(sinks[id].name, &sink)) return false;
        removed_.clear();
        removed_.push_back(admin_.ModuleInfo(sink.module));
        std::vector<std::uint32_t> modules{sink.module};
        if (id < sources.size() && admin_.FindSource(sources[id].name, &source) &&
            source.module != sink.module) {
            removed_.push_back(admin_.ModuleInfo(source.module));
            modules.push_back(source.module);
        }
        const UINT outs = waveOutGetNumDevs(), ins = waveInGetNumDevs();
        // The server moves streams away from a sink that goes, and on to the default sink when it
        // comes back: AddCard puts the test server's own players back where they were.
        streams_ = admin_.SinkInputs();
        for (auto m : modules)
            if (!admin_.UnloadModule(m)) return false;
        const UINT insAfter = modules.size() > 1 ? ins - 1 : ins;
        return WaitUntil(
            [&] { return waveOutGetNumDevs() == outs - 1 && waveInGetNumDevs() == insAfter; },
            3000);
    }
    bool AddCard(const std::string&) override {
        if (removed_.empty()) return false;
        const UINT outs = waveOutGetNumDevs(), ins = waveInGetNumDevs();
        for (auto& m : removed_)
            if (admin_.LoadModule(m.name, m.argument) == PA_INVALID_INDEX) return false;
        const UINT insAfter = removed_.size() > 1 ? ins + 1 : ins;
        removed_.clear();
        if (!WaitUntil(
                [&] { return waveOutGetNumDevs() == outs + 1 && waveInGetNumDevs() == insAfter; },
                3000))
            return false;
        for (auto& [input, sink] : streams_)
            admin_.MoveSinkInput(input, sink);
        streams_.clear();
        // A new null sink renders far ahead until a low-latency client plays into it again;
        // later tests expect a sink that behaves like a card.
        return WaitUntil(
            [&] {
                for (auto& s : admin_.Sinks())
                    if (s.latency > 100 * PA_USEC_PER_MSEC) return false;
                return true;
            },
            5000);
    }

private:
    PulseBackend* backend_ = nullptr;
    PulseAdmin admin_;
    std::vector<PulseAdmin::Module> removed_;
    std::vector<std::pair<std::uint32_t, std::string>> streams_;
};

std::unique_ptr<conformance::Harness> MakePulseHarness() {
    return std::make_unique<PulseHarness>();
}
} // namespace

namespace conformance {
INSTANTIATE_TEST_SUITE_P(Pulse, AudioConformance, ::testing::Values(&MakePulseHarness));
}
