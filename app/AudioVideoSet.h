#pragma once
// The wizard window: a side picture, the page area (FramePanel) into which the four page forms
// are docked one at a time, and the Back / Next (Finish) / Cancel buttons. Main thread.
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <cstdint>

class TAudioVideoForm : public TForm {
    Q_OBJECT
public:
    explicit TAudioVideoForm(TComponent* AOwner);

    TBevel* Bevel1;
    TPanel* Panel1;
    TImage* Image2;
    TPanel* FramePanel;
    TButton* BeforeButton;
    TButton* NextButton;
    TButton* CancelButton;

    void FormShow(TObject* Sender);
    void NextButtonClick(TObject* Sender);
    void BeforeButtonClick(TObject* Sender);
    void CancelButtonClick(TObject* Sender);
    // Shows page n: 0 welcome, 1 speakers, 2 microphone, 3 camera.
    void ShowPage(std::uint8_t n);

    std::uint8_t PageIndex() const { return FPageIndex; }
    TForm* CurrentPage() const { return FCurrentPage; }

    // The settings file: read when the window is shown, written by Finish.
    void LoadSettings();
    void SaveSettings();

private:
    std::uint8_t FPageIndex = 0;
    TForm* FCurrentPage = nullptr; // not owned: the application owns every form
};

extern TAudioVideoForm* AudioVideoForm;

// The remembered microphone and speaker volume positions, loaded from the settings file and
// applied by the pages each time their test starts.
extern std::int32_t RememberedInPos;
extern std::int32_t RememberedOutPos;
