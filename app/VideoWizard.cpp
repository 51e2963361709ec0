#include "app/VideoWizard.h"

TVideoForm* VideoForm = nullptr;

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

    OnCreate.Assign(this, &TVideoForm::FormCreate);
    EndLoading();
}

void TVideoForm::FormCreate(TObject*) {
    ComboBoxVideoSou->Clear();
    {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        for (int i = 0; i < devices.FilterCount(); ++i)
            ComboBoxVideoSou->AddItem(devices.Filters(i).FriendlyName);
    }
    ComboBoxVideoSou->SetItemIndex(ComboBoxVideoSou->ItemCount() > 0 ? 0 : -1);
}

void TVideoForm::ButtonTestClick(TObject*) {
    FilterGraph->ClearGraph();
    FilterGraph->SetActive(false);
    if (ButtonTest->Tag() != 0) {
        ButtonTest->SetTag(0);
        ButtonTest->SetCaption(tr("测试"));
        ButtonVideoSet->SetEnabled(false);
        return;
    }
    ButtonTest->SetTag(1);
    ButtonTest->SetCaption(tr("停止"));
    if (ComboBoxVideoSou->ItemIndex() < 0) return;

    {
        TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
        VideoSourceFilter->BaseFilter()->SetMoniker(
            devices.GetMoniker(ComboBoxVideoSou->ItemIndex()).Get());
    }
    FilterGraph->SetActive(true);
    ComPtr<IBaseFilter> capture = VideoSourceFilter->Get<IBaseFilter>();
    if (!capture) {
        // The camera went away since the list was made: as with no 176-wide format.
        FilterGraph->SetActive(false);
        return;
    }
    TPinList pins(capture.Get());
    if (pins.Count() == 0) {
        FilterGraph->SetActive(false);
        return;
    }
    TEnumMediaType types(pins.First().Get());
    int found = -1;
    for (int i = 0; i < types.Count() && found < 0; ++i) {
        // Only a format block that really is a VIDEOINFOHEADER is read.
        const VIDEOINFOHEADER* vih = types.Items(i)->VideoInfo();
        if (vih && vih->bmiHeader.biWidth == 176) found = i;
    }
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
    FilterGraph->Play();
    ButtonVideoSet->SetEnabled(true);
}

void TVideoForm::ButtonVideoSetClick(TObject*) {
    ShowFilterPropertyPage(this, VideoSourceFilter->Get<IBaseFilter>().Get(), ppDefault);
}
