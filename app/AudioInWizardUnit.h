#pragma once
// The microphone page: pick a recording device, watch the level meter while speaking, set the
// microphone volume. Closing the page (the wizard does so on every page change) stops a test.
#include "app/AudioPage.h"
#include "app/MixerLines.h"
#include "app/PageChecks.h"
#include "audio/display/AvConect.h"
#include "audio/display/AvLevel.h"
#include "audio/mixer/AvCCon.h"
#include "audio/mixer/AvDevice.h"
#include "audio/mixer/AvMixBlk.h"
#include "audio/mixer/AvMixCtl.h"
#include "audio/mixer/AvMixer.h"
#include "audio/stream/AvWavIn.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

class TAudioInForm : public TAudioPageForm {
    Q_OBJECT
public:
    explicit TAudioInForm(TComponent* AOwner);

    // Visible controls.
    TLabel* Label1;
    TAvDeviceComboBox* AvDeviceComBoxIn; // the mixers; item i is mixer i and recording device i
    TButton* ButtonTest = nullptr;       // tag 0 idle ("测试"), 1 while testing ("停止")
    TLabel* LabelMissing = nullptr;      // what is missing (no sound server, no microphone)
    TLabel* Label2;
    TLabel* Label3;
    // "录音回放": records a few seconds, then plays them on the speaker page's device; its caption
    // shows the progress, and a click stops.
    TButton* ButtonPlayback = nullptr;
    // What is wrong with the microphone: muted, volume 0, only silence, clipping. Hidden otherwise.
    TLabel* LabelProblem = nullptr;
    TButton* ButtonUnmute = nullptr; // "取消静音", while the microphone is muted or at 0
    // "自动调节麦克风音量": a loud microphone is turned down while testing (AutoAdjust in [Audio]).
    TCheckBox* CheckBoxAutoAdjust = nullptr;
    TPlaybackTest* PlaybackTest = nullptr;
    TAvLevel* AvLevel1; // the input level, both channels of 16-bit stereo
    // The microphone volume block; its Mixer is set when a test starts.
    TAvMixerBlock* AvMixerBlockInMicrophone;
    TLabel* Label4;                           // "麦克风音量", inside the block
    TAvMixerBlockSlider* AvMixerBlockSlider2; // the microphone volume
    TAvMixerBlockSlider* AvMixerBlockSlider1; // the balance; not visible
    TAvMixerBlockCheck* AvMixerBlockCheck1;   // mute or select; not visible

    // Non-visual components: the chosen mixer (open, so it hears platform changes), its
    // recording destination, and the line pointed at the microphone when a test starts.
    TAvMixerDevice* AvMixerDeviceIn;
    TAvAudioLine* AvAudioLineIn;
    TAvMixerControl* AvMixerControlIn; // the recording line's mixer list (or multiplexer)
    TAvMixerLabelConnector* AvMixerLabelConnector1; // names the recording line; no destination
    TAvAudioLine* AvAudioLineInMicrophone;
    // The recorder (8000 Hz, 16 bits, stereo, 2000-byte buffers, window callbacks) and the
    // connector that feeds its buffers to the meter.
    TAvWaveIn* AvWaveIn;
    TAvConnector* Connector;

    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormDestroy(TObject* Sender);
    void ButtonTestClick(TObject* Sender);
    // Shows or hides the line that says what is missing, as the sound system is now.
    void UpdateMissing();
    // A recorded buffer (main thread): a loud one turns the microphone down one step.
    void AvWaveInBufferReady(TObject* Sender, TAvWaveHdr* lpWaveHdr);
    // The chosen mixer switched: the block and the microphone line follow it (main thread).
    void AvMixerDeviceInChange(TObject* Sender);
    void ButtonPlaybackClick(TObject* Sender);
    void ButtonUnmuteClick(TObject* Sender);
    // Says what is wrong with the microphone, as its mixer and the running test find it.
    void UpdateProblem();

    // Points the block at the recording line's mixer list (or multiplexer) and the microphone
    // line at the first source whose name says microphone, and captions the block's check box.
    // Writes nothing to the mixer and leaves the slider's position alone, so the volume can be
    // set before a test; also run by every test start. Main thread.
    void BindMicrophone();

protected:
    void DoShow() override;

private:
    // The creation steps; the page's own parts: the meter and its block, the recorder, the checks.
    void CreateMixerComponents() override;
    void CreateControls() override;
    void CreatePageParts() override;
    void CreateMeterAndBlock();
    void CreateRecorder();

    // Where recording starts and stops; the button state is kept by the handlers.
    void StartTest();
    void StopTest();
    // A running test on another device than the mixer's moves to the mixer's.
    void MoveTest();
    // The recorder closed (main thread): one that failed or lost its device mid-test leaves the
    // button idle, so the next click starts a new test.
    void AvWaveInClose(TObject* Sender);
    // Points AvAudioLineInMicrophone at the recording line's source i for each i in turn and
    // stops at the first whose name says microphone; stays on the last source otherwise.
    void FindMicrophone();

    void CreateChecks();
    void AvMixerDeviceInControlChange(TObject* Sender, TAvLineId line, TAvControlId control);
    void PlaybackProgress(TPlaybackTest::TPhase phase, double seconds, const QString& problem);
    // Recorded time of the running test that was silent, and since the last clipped buffer.
    double FSilentMs = 0;
    double FSinceClipMs = 1e9;

    bool FShownOnce = false;
    bool FStarting = false; // StartTest runs: a failed first device closes before the fallback
    // How FindPeaks reads the recorded buffers: 16 bits, 2 channels, 8000 Hz.
    WAVEFORMATEX FSampleFormat{};
};

// A buffer whose larger peak magnitude is above this (a fifth of full scale) is loud.
constexpr int MicrophoneLoudPeak = 32767 / 5;
// The lowest slider position the automatic lowering goes to.
constexpr int MicrophoneLowestAutoPosition = 13;

// A test that records only silence this long says so.
constexpr double MicrophoneSilenceMs = 3000;

// Whether a mixer line's name says microphone: "麦克", "录音" or "microphone" in any ASCII case.
bool IsMicrophoneLineName(const QString& name);

extern TAudioInForm* AudioInForm;
