// Mixer components on the simulated sound system: the observer walk, re-resolving a page's lines
// when the device list switches mixers, and one control change from the platform to a line's
// handler through the callback window.
#include "audio/mixer/AvMixer.h"
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

void BM_NotifyObservers(benchmark::State& state) {
    TAvObservable observable;
    std::vector<std::unique_ptr<TAvObserver>> observers;
    long calls = 0;
    for (int i = 0; i < state.range(0); ++i) {
        observers.push_back(std::make_unique<TAvObserver>());
        observers.back()->OnNotify = [&calls](TObject*, TObject*) { ++calls; };
        observable.AddObserver(observers.back().get());
    }
    for (auto _ : state) {
        TAvControlChange change(1, 2);
        observable.NotifyObservers(&change);
    }
    benchmark::DoNotOptimize(calls);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_NotifyObservers)->Arg(1)->Arg(8)->Arg(64);

// The speaker page's three lines follow a switch of their mixer (what a pick in the list does).
void BM_SwitchMixerWithThreeLines(benchmark::State& state) {
    ScopedAudioBackend sim(std::make_unique<SimBackend>(SimConfig::Default()));
    TAvMixerDevice mixer(nullptr);
    TAvAudioLine a(nullptr), b(nullptr), c(nullptr);
    a.SetMixer(&mixer);
    a.SetComponentType(ctDstSpeakers);
    b.SetMixer(&mixer);
    b.SetComponentType(ctSrcWaveOut);
    c.SetMixer(&mixer);
    c.SetComponentType(ctSrcMicrophone);
    int id = 0;
    for (auto _ : state) {
        id ^= 1;
        mixer.SetDeviceId(id);
    }
    benchmark::DoNotOptimize(c.LineId());
}
BENCHMARK(BM_SwitchMixerWithThreeLines);

// A control written through another handle, delivered to the open mixer and re-sent by the line.
void BM_ControlChangeRoundTrip(benchmark::State& state) {
    ScopedAudioBackend sim(std::make_unique<SimBackend>(SimConfig::Default()));
    TAvMixerDevice mixer(nullptr);
    mixer.SetActive(true);
    TAvAudioLine speakers(nullptr);
    speakers.SetMixer(&mixer);
    speakers.SetComponentType(ctDstSpeakers);
    MIXERCONTROLA volume{};
    mixer.GetControlByType(speakers.LineId(), MIXERCONTROL_CONTROLTYPE_VOLUME, volume);
    long heard = 0;
    speakers.OnControlChange = [&heard](TObject*, TAvLineId, TAvControlId) { ++heard; };
    HMIXER other = nullptr;
    mixerOpen(&other, 0, 0, 0, CALLBACK_NULL);
    MIXERCONTROLDETAILS_UNSIGNED value{0};
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = volume.dwControlID;
    d.cChannels = 1;
    d.cbDetails = sizeof value;
    d.paDetails = &value;
    for (auto _ : state) {
        value.dwValue = (value.dwValue + 1) & 0xFFFF;
        mixerSetControlDetails(reinterpret_cast<HMIXEROBJ>(other), &d,
                               MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
        const long before = heard;
        for (int i = 0; heard == before && i < 1000; ++i)
            QCoreApplication::sendPostedEvents();
        if (heard == before) {
            state.SkipWithError("the change was not reported");
            break;
        }
    }
    mixerClose(other);
}
BENCHMARK(BM_ControlChangeRoundTrip);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
