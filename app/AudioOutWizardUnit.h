#pragma once
// The speaker page: pick a playback device, set the speaker volume, play a looping test sound.
// The wizard window calls ButtonTestClick to stop a playing sound when the page changes.
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

class TAudioOutForm : public TForm {
    Q_OBJECT
public:
    explicit TAudioOutForm(TComponent* AOwner);

    TLabel* Label1;
    TButton* ButtonTest; // tag 0 idle ("播放声音"), 1 while the test sound plays ("停止")
    TLabel* Label2;

    // Toggles the test sound.
    void ButtonTestClick(TObject* Sender);

private:
    // Where the player starts and stops; the button state is kept by ButtonTestClick.
    void StartTestSound();
    void StopTestSound();
};

extern TAudioOutForm* AudioOutForm;
