#pragma once
// The camera page: pick a camera, preview it, open its own settings.
#include "framework/Forms.h"
#include "framework/StdCtrls.h"
#include "video/Capkit.h"

class TVideoForm : public TForm {
    Q_OBJECT
public:
    explicit TVideoForm(TComponent* AOwner);

    TComboBox* ComboBoxVideoSou; // the cameras by name; the settings file keeps the index
    TDSVideoWindowEx2* DSVideoWindowEx21;
    TButton* ButtonTest; // tag 0 idle ("测试"), 1 testing ("停止")
    TLabel* Label1;
    TButton* ButtonVideoSet; // the camera's own settings, while a preview runs
    TFilterGraph* FilterGraph;
    TFilter* VideoSourceFilter;
    TSampleGrabber* SampleGrabber1;

    void FormCreate(TObject* Sender);
    void ButtonTestClick(TObject* Sender);
    void ButtonVideoSetClick(TObject* Sender);
};

extern TVideoForm* VideoForm;
