#include "audio/stream/AvWPlay.h"

#include "resources/AvResources.h"

#include <algorithm>
#include <climits>

namespace {

// Sets a flag for the life of a scope (also when an exception passes).
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagScope() { FFlag = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& FFlag;
};

LONG ToLong(std::int64_t v) {
    return static_cast<LONG>(std::clamp<std::int64_t>(v, 0, LONG_MAX));
}

} // namespace

TAvWavePlayer::TAvWavePlayer(TComponent* AOwner) : TAvDSPComponent(AOwner) {
    FWaveFile = new TAvWaveFile(this);
    FWaveFile->OnChange.Assign(this, [this](TObject*) { WaveChanged(); });
    FWaveFile->OnChanged.Assign(this, [this](TObject*) { WaveFormatSettled(); });

    FADPCMConverter = new TAvADPCMConverter(this);
    FADPCMConverter->SetInput(FWaveFile);
    FPCMConverter = new TAvPCMConverter(this);
    FPCMConverter->SetInput(FADPCMConverter);
    FWaveOut = new TAvWaveOut(this);
    FWaveOut->SetInput(FPCMConverter);
    // The wave's positions count in the same units as the output's.
    FWaveFile->Wave()->SetTimeFormat(FWaveOut->TimeFormat());

    FWaveOut->OnOpen.Assign(this, [this](TObject*) { OnStart(this); });
    FWaveOut->OnStop.Assign(this, [this](TObject*) { DeviceStopped(); });
    FWaveOut->OnClose.Assign(this, [this](TObject*) { DeviceClosed(); });
    FWaveOut->OnPause.Assign(this, [this](TObject*) {
        if (!FSeeking) OnPause(this);
    });
    FWaveOut->OnRestart.Assign(this, [this](TObject*) {
        if (!FSeeking) OnRestart(this);
    });
    FWaveOut->OnLooping.Assign(this, [this](TObject*) { FLoopPending = true; });
    FWaveOut->OnBufferReady.Assign(this, [this](TObject*, TAvWaveHdr* h) { OnData(this, h); });

    // The player is the wave output's Output (it receives every played buffer and passes it on
    // to its own Output), although it publishes no Input of its own.
    SetAcceptsInput(true);
    FWaveOut->SetOutput(this);
    SetAcceptsInput(false);
}

TAvWavePlayer::~TAvWavePlayer() {
    Stop();
    // The output first: nothing may pull from the components freed after it.
    delete FWaveOut;
    delete FPCMConverter;
    delete FADPCMConverter;
    delete FWaveFile;
}

void TAvWavePlayer::OpenFile(const QString& name) {
    Wave()->SetFileName(name);
    FADPCMConverter->SetEnabled(FAutoConvert && FADPCMConverter->CanConvert());
}

void TAvWavePlayer::Play() {
    if ((State() & wsStarted) || Wave()->Empty() || Wave()->DataSize() == 0) return;
    if (GetPosition() >= Wave()->Length()) SetPosition(0);
    FStartOffset = GetPosition();
    FLoopPending = false;
    FStopPosition = -1;
    FWaveOut->Start();
}

void TAvWavePlayer::Stop() {
    try {
        FStopPosition = GetPosition();
    } catch (...) {
        // A device that has gone has no position; the stop goes on (the output reports the
        // device's failure once, and a stopped output takes no more of its queued messages).
    }
    FWaveOut->Stop();
    FWaveOut->Close();
}

std::int64_t TAvWavePlayer::GetPosition() {
    if (!(State() & wsStarted)) return Wave()->Position();
    // The output counts in its own format, which differs from the file's when the chain
    // converts (ADPCM, another rate): heard frames of the output are mapped to frames of the file.
    const WAVEFORMATEX* out = FWaveOut->PWaveFormat();
    const WAVEFORMATEX* file = Wave()->GetPWaveFormat();
    const std::int64_t p = FWaveOut->GetPosition();
    if (FLoopPending && !FWaveOut->LoopPending()) {
        FLoopPending = false;
        FStartOffset = 0;
    }
    if (!out || !file || out->nSamplesPerSec == 0) return p + FStartOffset;
    std::int64_t frames = p;
    switch (FWaveOut->TimeFormat()) {
    case tfByte:
        frames = out->nBlockAlign ? p / out->nBlockAlign : 0;
        break;
    case tfMillisecond:
        frames = p * out->nSamplesPerSec / 1000;
        break;
    case tfSample:
        break;
    }
    const std::int64_t fileFrames = frames * file->nSamplesPerSec / out->nSamplesPerSec;
    return Wave()->SamplesToTime(ToLong(fileFrames)) + FStartOffset;
}

void TAvWavePlayer::SetPosition(std::int64_t p) {
    if (!(State() & wsOpen)) {
        Wave()->SetPosition(ToLong(p));
        return;
    }
    TFlagScope seeking(FSeeking);
    const TAvWaveOutState was = State();
    FWaveOut->Pause();
    Wave()->SetPosition(ToLong(p));
    FStartOffset = Wave()->Position();
    FLoopPending = false;
    FWaveOut->Reset();
    if (!(was & wsPaused)) FWaveOut->Restart();
}

void TAvWavePlayer::SetTimeFormat(TAvTimeFormats f) {
    FWaveOut->SetTimeFormat(f);
    Wave()->SetTimeFormat(f);
}

void TAvWavePlayer::SetAutoConvert(bool v) {
    if (v == FAutoConvert) return;
    if (State() & wsOpen) throw Exception(av::LoadResString(28060));
    FAutoConvert = v;
    FADPCMConverter->SetEnabled(v);
    FPCMConverter->SetEnabled(v);
}

void TAvWavePlayer::DeviceStopped() {
    if (FStopPosition == -1) FStopPosition = GetPosition();
    FWaveOut->Close();
}

void TAvWavePlayer::DeviceClosed() {
    if (!FResetPosition && FStopPosition >= 0) SetPosition(FStopPosition);
    OnStop(this);
}

void TAvWavePlayer::WaveChanged() {
    Stop();
    OnChange(this);
}

void TAvWavePlayer::WaveFormatSettled() {
    FADPCMConverter->SetEnabled(FAutoConvert && FADPCMConverter->CanConvert());
}
