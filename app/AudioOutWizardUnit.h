#pragma once
// The speaker page: pick a playback device, set the speaker volume, play a looping test sound.
// The wizard window calls ButtonTestClick to stop a playing sound when the page changes.
#include "app/AudioPage.h"
#include "app/MixerLines.h"
#include "app/PageChecks.h"
#include "audio/mixer/AvDevice.h"
#include "audio/mixer/AvMixBlk.h"
#include "audio/mixer/AvMixCtl.h"
#include "audio/mixer/AvMixer.h"
#include "audio/stream/AvWPlay.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

class TAudioOutForm : public TAudioPageForm {
    Q_OBJECT
public:
    explicit TAudioOutForm(TComponent* AOwner);

    // Visible controls.
    TLabel* Label1;
    TAvDeviceComboBox* AvDeviceComBoxOut; // the mixers; item i is mixer i and playback device i
    TButton* ButtonTest = nullptr; // tag 0 idle ("播放声音"), 1 while the test sound plays ("停止")
    TLabel* LabelMissing =
        nullptr; // what is missing (no sound server, no speakers); hidden otherwise
    TLabel* Label2;
    // Whether the microphone heard the test sound, and the delay; hidden until a test plays.
    TLabel* LabelHeard = nullptr;
    // A muted or silent speaker, named, with the one click that turns it on again.
    TLabel* LabelMuted = nullptr;
    TButton* ButtonUnmute = nullptr; // "取消静音"

    // Non-visual components: the chosen mixer and the lines the page's volume blocks act on.
    TAvMixerDevice* AvMixerDeviceOut;
    TAvAudioLine* AvAudioLineWaveSound;     // the speaker destination
    TAvAudioLine* AvAudioLineOutSound;      // the wave-output source
    TAvAudioLine* AvAudioLineOutMicrophone; // the microphone source
    // The destination's mixer list on each line (the volume blocks' Mixer).
    TAvMixerControl* AvMixerControlWaveSound;
    TAvMixerControl* AvMixerControlOutSound;
    TAvMixerControl* AvMixerControlOutMicrophone; // no type: bound by id -1, never resolves

    // The speaker volume block, and two hidden blocks that stay bound to the mixer: the wave
    // output (kept at the speaker volume) and the microphone heard on the speakers.
    TAvMixerBlock* AvMixerBlockWaveSound;
    TLabel* Label3;                           // "扬声器音量", inside the block
    TAvMixerBlockSlider* AvMixerBlockSlider6; // the speaker volume
    TAvMixerBlockCheck* AvMixerBlockCheck3;   // not visible
    TAvMixerBlock* AvMixerBlockOutSound;
    TAvMixerBlockSlider* AvMixerBlockSlider4; // follows AvMixerBlockSlider6
    TAvMixerBlockCheck* AvMixerBlockCheck2;
    TAvMixerBlock* AvMixerBlock1;
    TAvMixerBlockCheck* AvMixerBlockCheck4;
    TAvMixerBlockSlider* AvMixerBlockSlider7;

    // Plays the test sound in a loop on the chosen device.
    TAvWavePlayer* AvWavePlayer1;
    // The test sound: "TestSnd.wav" in the program's folder (tests may point elsewhere).
    QString TestSoundFile;

    // Toggles the test sound.
    void ButtonTestClick(TObject* Sender);
    // The speaker slider moved: the wave-output slider takes the same position.
    void AvMixerBlockSlider6Change(TObject* Sender);
    // A click on the page's own background stops the test sound.
    void FormClick(TObject* Sender);
    // The mixer switched device (main thread): a playing test sound moves to it.
    void AvMixerDeviceOutChange(TObject* Sender);
    // Shows or hides the line that says what is missing, as the sound system is now.
    void UpdateMissing();
    // Shows or hides the muted line and its button, as the chosen speaker's mixer is now.
    void UpdateMuted();
    void ButtonUnmuteClick(TObject* Sender);
    // Listens on the remembered (else the first) microphone while the test sound plays.
    TEchoListener* EchoListener = nullptr;

protected:
    void DoShow() override;

private:
    // The creation steps; the page's own parts: the volume blocks and the player.
    void CreateMixerComponents() override;
    void CreateControls() override;
    void CreatePageParts() override;
    void CreateBlocks();
    void CreatePlayer();

    // Where the player starts and stops; the button state is kept by ButtonTestClick.
    void StartTestSound();
    void StopTestSound();
    // The player's device closed (main thread): a sound that failed or lost its device mid-test
    // leaves the button idle, so the next click plays again.
    void AvWavePlayer1Stop(TObject* Sender);

    void StartListening();
    void ShowHeard(const TEchoResult& result);
    void AvMixerDeviceOutControlChange(TObject* Sender, TAvLineId line, TAvControlId control);
    QString FListeningTo; // the microphone's name while listening
    TPcm16Sound FSound;   // the test sound as the listener compares it

    bool FMovingTest = false; // the test sound is being moved to another device
};

extern TAudioOutForm* AudioOutForm;
