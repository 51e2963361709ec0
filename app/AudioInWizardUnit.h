#pragma once
// The microphone page: pick a recording device, watch the level meter while speaking, set the
// microphone volume. Closing the page (the wizard does so on every page change) stops a test.
#include "audio/display/AvLevel.h"
#include "audio/mixer/AvCCon.h"
#include "audio/mixer/AvDevice.h"
#include "audio/mixer/AvMixBlk.h"
#include "audio/mixer/AvMixCtl.h"
#include "audio/mixer/AvMixer.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

class TAudioInForm : public TForm {
    Q_OBJECT
public:
    explicit TAudioInForm(TComponent* AOwner);

    // Visible controls.
    TLabel* Label1;
    TAvDeviceComboBox* AvDeviceComBoxIn; // the mixers; item i is mixer i and recording device i
    TButton* ButtonTest;                 // tag 0 idle ("测试"), 1 while testing ("停止")
    TLabel* Label2;
    TLabel* Label3;
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

    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormDestroy(TObject* Sender);
    void ButtonTestClick(TObject* Sender);

private:
    // The one place where the page's components are made and their stored properties set; runs
    // inside the form's loading bracket, so each component's loaded step follows as on a form
    // read from its resource.
    void CreateComponents();
    void CreateMixerComponents();
    void CreateControls();
    void CreateMeterAndBlock();

    // Where recording starts and stops; the button state is kept by the handlers.
    void StartTest();
    void StopTest();
};

extern TAudioInForm* AudioInForm;
