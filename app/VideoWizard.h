#pragma once
// The camera page: pick a camera, preview it, open its own settings.
#include "framework/Forms.h"
#include "framework/MessageWindow.h"
#include "framework/StdCtrls.h"
#include "video/Capkit.h"

#include <memory>
#include <vector>

class TVideoForm : public TForm {
    Q_OBJECT
public:
    explicit TVideoForm(TComponent* AOwner);
    ~TVideoForm() override;

    TComboBox* ComboBoxVideoSou; // the cameras by name; the settings file keeps the index
    TLabel* LabelStatus;         // one line when there is no camera or the chosen one is gone
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

    // The cameras are listed again, the chosen one kept by its identity (also when it has gone:
    // its entry then says so). Runs by itself when cameras come or go.
    void ListCameras();

private:
    struct TCameraEntry {
        QString Name;
        QString Identity; // the moniker's display name: the device, wherever it is listed
        ComPtr<IMoniker> Moniker;
        bool Present = true;
    };
    void StopPreview();
    void ShowIdle();
    void ShowStatus();
    void MarkGone(int index);
    void ReportCameraError(HRESULT hr, const QString& original);
    void GraphErrorAbort(TObject* Sender, HRESULT hr);
    void GraphDeviceLost(TObject* Sender, IUnknown* filter, bool arrived);

    std::vector<TCameraEntry> FCameras; // one per list entry, in list order
    std::unique_ptr<TMessageWindow> FDeviceWindow;
};

extern TVideoForm* VideoForm;
