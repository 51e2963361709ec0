#pragma once
// The wizard window: a side picture, the page area (FramePanel) into which the four page forms
// are docked one at a time, and the Back / Next (Finish) / Cancel buttons. Main thread.
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

#include <QString>

#include <cstdint>

// "AudioVideo.ini" in programFolder while this process may write there (a build tree, a portable
// copy in a folder of its own); otherwise, and always for an installed program (/usr/bin, a
// prefix with its data folder beside, see av::IsInstalledProgramFolder), the user's own
// $XDG_CONFIG_HOME/avsetup/AudioVideo.ini (~/.config/avsetup/ when the variable is unset or not an
// absolute path). Any thread.
QString SettingsFilePath(const QString& programFolder);

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

    // The settings file: read when the window is shown (defaults for whatever is missing or
    // unreadable), written by Finish. A refused write raises EIniFileException and changes nothing
    // else, so Finish leaves the window open with every choice still on its page.
    void LoadSettings();
    void SaveSettings();
    // The file both use, chosen anew each time (see SettingsFilePath).
    QString SettingsFileName() const { return SettingsFilePath(FProgramFolder); }
    // The executable's folder by default; tests point it at a folder of their own.
    QString ProgramFolder() const { return FProgramFolder; }
    void SetProgramFolder(const QString& folder) { FProgramFolder = folder; }

private:
    QString FProgramFolder;
    std::uint8_t FPageIndex = 0;
    TForm* FCurrentPage = nullptr; // not owned: the application owns every form
};

extern TAudioVideoForm* AudioVideoForm;

// The remembered microphone and speaker volume positions, loaded from the settings file and
// applied by the pages each time their test starts.
extern std::int32_t RememberedInPos;
extern std::int32_t RememberedOutPos;
