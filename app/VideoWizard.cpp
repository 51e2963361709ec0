#include "app/VideoWizard.h"
#include "platform/api/mmsystem.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

TVideoForm* VideoForm = nullptr;

namespace {
// The format to preview in the 176 x 144 window: the smallest at least 176 wide, else the
// largest (scaled into the window, its proportions kept). Of equal sizes the one painted without
// conversion (RGB32) first, then any uncompressed one, then the first listed. -1: none.
int ChoosePreviewFormat(TEnumMediaType& types) {
    int best = -1;
    std::int64_t bestArea = 0;
    int bestRank = 0;
    bool bestWide = false;
    for (int i = 0; i < types.Count(); ++i) {
        // Only a format block that really is a VIDEOINFOHEADER is read.
        const VIDEOINFOHEADER* vih = types.Items(i)->VideoInfo();
        if (!vih || vih->bmiHeader.biWidth <= 0 || vih->bmiHeader.biHeight == 0) continue;
        const std::int64_t area =
            std::int64_t(vih->bmiHeader.biWidth) * std::abs(std::int64_t(vih->bmiHeader.biHeight));
        const bool wide = vih->bmiHeader.biWidth >= 176;
        const GUID subtype = types.Items(i)->SubType();
        const int rank = subtype == MEDIASUBTYPE_RGB32 ? 0 : subtype == MEDIASUBTYPE_MJPG ? 2 : 1;
        bool better;
        if (best < 0 || wide != bestWide)
            better = best < 0 || wide;
        else if (area != bestArea)
            better = wide ? area < bestArea : area > bestArea;
        else
            better = rank < bestRank;
        if (!better) continue;
        best = i;
        bestArea = area;
        bestRank = rank;
        bestWide = wide;
    }
    return best;
}

QString DisplayName(IMoniker* moniker) {
    LPOLESTR name = nullptr;
    if (!moniker || FAILED(moniker->GetDisplayName(nullptr, nullptr, &name)) || !name) return {};
    const QString text = QString::fromUtf16(name);
    CoTaskMemFree(name);
    return text;
}
} // namespace

TVideoForm::TVideoForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("VideoForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 475, 328);
    SetColor(clBtnFace);

    FilterGraph = new TFilterGraph(this);
    FilterGraph->SetName(QStringLiteral("FilterGraph"));
    FilterGraph->SetMode(gmCapture);
    FilterGraph->SetGraphEdit(true);
    FilterGraph->SetLinearVolume(true);

    ComboBoxVideoSou = new TComboBox(this);
    ComboBoxVideoSou->SetName(QStringLiteral("ComboBoxVideoSou"));
    ComboBoxVideoSou->SetParent(this);
    ComboBoxVideoSou->SetBounds(8, 16, 145, 21);
    ComboBoxVideoSou->SetStyle(csDropDown);
    ComboBoxVideoSou->SetTabOrder(1);
    ComboBoxVideoSou->SetAccessibleName(tr("摄像机"));

    LabelStatus = new TLabel(this);
    LabelStatus->SetName(QStringLiteral("LabelStatus"));
    LabelStatus->SetParent(this);
    LabelStatus->SetAutoSize(false);
    LabelStatus->SetBounds(8, 42, 345, 17);
    LabelStatus->SetWordWrap(false);
    LabelStatus->SetVisible(false);

    DSVideoWindowEx21 = new TDSVideoWindowEx2(this);
    DSVideoWindowEx21->SetName(QStringLiteral("DSVideoWindowEx21"));
    DSVideoWindowEx21->SetParent(this);
    DSVideoWindowEx21->SetBounds(8, 64, 176, 144);
    DSVideoWindowEx21->SetColor(clBlack);
    DSVideoWindowEx21->setAccessibleName(tr("摄像机预览"));
    DSVideoWindowEx21->SetFilterGraph(FilterGraph);
    DSVideoWindowEx21->SetAspectRatio(rmLetterBox);
    DSVideoWindowEx21->SetAutoHideCursor(0);
    DSVideoWindowEx21->SetDigitalZoom(0);
    DSVideoWindowEx21->SetNoScreenSaver(false);
    TColorControl* cc = DSVideoWindowEx21->ColorControl();
    cc->SetBrightness(750);
    cc->SetContrast(10000);
    cc->SetHue(0);
    cc->SetSaturation(10000);
    cc->SetSharpness(5);
    cc->SetGamma(1);
    cc->SetColorEnable(true);

    ButtonTest = new TButton(this);
    ButtonTest->SetName(QStringLiteral("ButtonTest"));
    ButtonTest->SetParent(this);
    ButtonTest->SetBounds(216, 64, 75, 25);
    ButtonTest->SetCaption(tr("测试"));
    ButtonTest->SetTabOrder(2);
    ButtonTest->SetTag(0);
    ButtonTest->OnClick.Assign(this, &TVideoForm::ButtonTestClick);

    Label1 = new TLabel(this);
    Label1->SetName(QStringLiteral("Label1"));
    Label1->SetParent(this);
    Label1->SetAutoSize(false);
    // Narrower and taller than first drawn (209 x 41): docked, the page is 360 pixels wide, and
    // the hint ran out of sight past its edge.
    Label1->SetBounds(216, 128, 136, 55);
    Label1->SetWordWrap(true);
    Label1->SetCaption(tr("调整角度和焦距以确保左侧显示的图像时您想要的效果。"));

    ButtonVideoSet = new TButton(this);
    ButtonVideoSet->SetName(QStringLiteral("ButtonVideoSet"));
    ButtonVideoSet->SetParent(this);
    ButtonVideoSet->SetBounds(216, 183, 75, 25);
    ButtonVideoSet->SetCaption(tr("选项"));
    ButtonVideoSet->SetEnabled(false);
    ButtonVideoSet->SetTabOrder(3);
    ButtonVideoSet->OnClick.Assign(this, &TVideoForm::ButtonVideoSetClick);

    VideoSourceFilter = new TFilter(this);
    VideoSourceFilter->SetName(QStringLiteral("VideoSourceFilter"));
    VideoSourceFilter->SetFilterGraph(FilterGraph);

    SampleGrabber1 = new TSampleGrabber(this);
    SampleGrabber1->SetName(QStringLiteral("SampleGrabber1"));
    SampleGrabber1->SetFilterGraph(FilterGraph);

    FilterGraph->OnGraphErrorAbort.Assign(this, &TVideoForm::GraphErrorAbort);
    FilterGraph->OnGraphDeviceLost.Assign(this, &TVideoForm::GraphDeviceLost);

    OnCreate.Assign(this, &TVideoForm::FormCreate);
    EndLoading();
    if (!IsDesigning()) {
        // Cameras that come or go are listed at once (one look answers every notice queued).
        FDeviceWindow = std::make_unique<TMessageWindow>([this](TMessage& m) {
            if (m.Msg != WM_DEVICECHANGE) return;
            FDeviceWindow->RemovePending(WM_DEVICECHANGE);
            ListCameras();
        });
        ListenForBroadcasts(FDeviceWindow->Handle(), true);
    }
}

TVideoForm::~TVideoForm() {
    FDeviceWindow.reset();
}

void TVideoForm::FormCreate(TObject*) {
    ComboBoxVideoSou->Clear();
    FCameras.clear();
    ListCameras();
}

void TVideoForm::ListCameras() {
    const int chosen = ComboBoxVideoSou->ItemIndex();
    const bool hadCameras = !FCameras.empty();
    std::vector<TCameraEntry> cameras;
    {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        for (int i = 0; i < devices.FilterCount(); ++i) {
            TCameraEntry e;
            e.Name = devices.Filters(i).FriendlyName;
            e.Moniker = devices.GetMoniker(i);
            e.Identity = DisplayName(e.Moniker.Get());
            cameras.push_back(std::move(e));
        }
    }
    int index = cameras.empty() ? -1 : 0;
    if (hadCameras) {
        index = -1;
        if (chosen >= 0 && chosen < int(FCameras.size())) {
            // The chosen camera stays chosen wherever it is listed now; gone, it keeps its place
            // and says so, so that nothing else is previewed or saved under its name.
            const TCameraEntry& was = FCameras[std::size_t(chosen)];
            for (std::size_t i = 0; i < cameras.size() && index < 0; ++i)
                if (cameras[i].Identity == was.Identity) index = int(i);
            if (index < 0) {
                TCameraEntry gone = was;
                gone.Present = false;
                index = std::min(chosen, int(cameras.size()));
                cameras.insert(cameras.begin() + index, std::move(gone));
            }
        }
    }
    FCameras = std::move(cameras);
    QStringList names;
    for (const TCameraEntry& e : FCameras)
        names << (e.Present ? e.Name : tr("%1（已断开）").arg(e.Name));
    if (names != ComboBoxVideoSou->Items()) {
        ComboBoxVideoSou->Clear();
        for (const QString& n : names)
            ComboBoxVideoSou->AddItem(n);
    }
    ComboBoxVideoSou->SetItemIndex(index);
    ShowStatus();
}

void TVideoForm::ShowStatus() {
    QString status;
    const int i = ComboBoxVideoSou->ItemIndex();
    if (FCameras.empty())
        status = tr("未找到摄像头。请连接摄像头，它会自动出现在列表中。");
    else if (i >= 0 && i < int(FCameras.size()) && !FCameras[std::size_t(i)].Present)
        status = tr("摄像头“%1”已断开。请重新连接它，或选择另一个摄像头。")
                     .arg(FCameras[std::size_t(i)].Name);
    LabelStatus->SetCaption(status);
    LabelStatus->SetVisible(!status.isEmpty());
    // Nothing to test without a camera; a running test can always be stopped.
    ButtonTest->SetEnabled(!FCameras.empty() || ButtonTest->Tag() != 0);
}

void TVideoForm::MarkGone(int index) {
    if (index < 0 || index >= int(FCameras.size())) return;
    FCameras[std::size_t(index)].Present = false;
    ComboBoxVideoSou->Clear();
    for (const TCameraEntry& e : FCameras)
        ComboBoxVideoSou->AddItem(e.Present ? e.Name : tr("%1（已断开）").arg(e.Name));
    ComboBoxVideoSou->SetItemIndex(index);
    ShowStatus();
}

void TVideoForm::StopPreview() {
    FilterGraph->ClearGraph();
    FilterGraph->SetActive(false);
}

void TVideoForm::ShowIdle() {
    ButtonTest->SetTag(0);
    ButtonTest->SetCaption(tr("测试"));
    ButtonVideoSet->SetEnabled(false);
    ShowStatus();
}

void TVideoForm::ButtonTestClick(TObject*) {
    StopPreview();
    if (ButtonTest->Tag() != 0) {
        ShowIdle();
        return;
    }
    ButtonTest->SetTag(1);
    ButtonTest->SetCaption(tr("停止"));
    const int index = ComboBoxVideoSou->ItemIndex();
    if (index < 0 || index >= int(FCameras.size())) return;
    if (!FCameras[std::size_t(index)].Present) {
        ShowIdle();
        return;
    }

    // The camera is the one listed under this entry, found by its identity: a camera that went
    // is not replaced by whichever now has its place in the system's list.
    VideoSourceFilter->BaseFilter()->SetMoniker(FCameras[std::size_t(index)].Moniker.Get());
    FilterGraph->SetActive(true);
    ComPtr<IBaseFilter> capture = VideoSourceFilter->Get<IBaseFilter>();
    if (!capture) {
        // It went away since the list was made.
        StopPreview();
        ShowIdle();
        MarkGone(index);
        return;
    }
    TPinList pins(capture.Get());
    if (pins.Count() == 0) {
        FilterGraph->SetActive(false);
        return;
    }
    TEnumMediaType types(pins.First().Get());
    const int found = ChoosePreviewFormat(types);
    if (found < 0) {
        FilterGraph->SetActive(false);
        return;
    }
    ComPtr<IAMStreamConfig> config = pins.First().As<IAMStreamConfig>();
    if (!config) throw EDirectShowException(DSErrorMessage(E_NOINTERFACE), E_NOINTERFACE);
    config->SetFormat(types.Items(found)->AMMediaType());
    ComPtr<ICaptureGraphBuilder2> builder = FilterGraph->Get<ICaptureGraphBuilder2>();
    if (builder)
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, capture.Get(), nullptr,
                              DSVideoWindowEx21->GetFilter().Get());
    try {
        FilterGraph->Play();
    } catch (const EDirectShowException& e) {
        ReportCameraError(e.ErrorCode(), e.Message());
        return;
    }
    ButtonVideoSet->SetEnabled(true);
}

void TVideoForm::ReportCameraError(HRESULT hr, const QString& original) {
    StopPreview();
    ShowIdle();
    QString text;
    if (hr == HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES))
        text = tr("摄像头正被另一个程序使用，所以这里无法显示它的图像。\n"
                  "请关闭正在使用摄像头的程序（例如视频通话或录像软件），然后再点“测试”。");
    else if (hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) ||
             hr == HRESULT_FROM_WIN32(ERROR_GEN_FAILURE))
        text = tr("摄像头没有响应。\n请检查它是否连接好，然后再点“测试”。");
    else
        text = tr("无法显示摄像头的图像。\n请再点一次“测试”，或选择另一个摄像头。");
    // The original words are for whoever looks into it: a terminal, a bug report.
    std::fprintf(stderr, "%s\n", original.toUtf8().constData());
    Application->MessageBox(text, Application->Title(), MB_OK | MB_ICONWARNING, original);
}

void TVideoForm::GraphErrorAbort(TObject*, HRESULT hr) {
    // Only the first error of a running preview is news: the preview stops with it.
    if (ButtonTest->Tag() == 0 || !FilterGraph->Active()) return;
    ReportCameraError(hr, DSErrorMessage(hr));
}

void TVideoForm::GraphDeviceLost(TObject*, IUnknown*, bool arrived) {
    if (arrived || ButtonTest->Tag() == 0 || !FilterGraph->Active()) return;
    // The previewed camera was unplugged: the preview ends and its entry says so.
    StopPreview();
    ShowIdle();
    MarkGone(ComboBoxVideoSou->ItemIndex());
}

void TVideoForm::ButtonVideoSetClick(TObject*) {
    ShowFilterPropertyPage(this, VideoSourceFilter->Get<IBaseFilter>().Get(), ppDefault);
}
