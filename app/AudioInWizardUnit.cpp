#include "app/AudioInWizardUnit.h"

#include "app/AudioVideoSet.h"
#include "platform/AudioBackend.h"
#include "platform/mmsystem.h"

#include <QScopeGuard>

#include <cstdlib>

TAudioInForm* AudioInForm = nullptr;

TAudioInForm::TAudioInForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("AudioInForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 583, 488);
    SetColor(clBtnFace);

    CreateComponents();

    OnCreate.Assign(this, &TAudioInForm::FormCreate);
    OnClose.Assign(this, &TAudioInForm::FormClose);
    OnDestroy.Assign(this, &TAudioInForm::FormDestroy);
    EndLoading();
    UpdateMissing();
}

void TAudioInForm::CreateComponents() {
    // Non-visual first: the list and the lines refer to the mixer.
    CreateMixerComponents();
    CreateControls();
    CreateMeterAndBlock();
    CreateRecorder();
}

void TAudioInForm::CreateMixerComponents() {
    AvMixerDeviceIn = new TAvMixerDevice(this);
    AvMixerDeviceIn->SetName(QStringLiteral("AvMixerDeviceIn"));
    AvMixerDeviceIn->SetActive(true);
    AvMixerDeviceIn->OnChange.Assign(this, &TAudioInForm::AvMixerDeviceInChange);

    AvAudioLineIn = new TAvAudioLine(this);
    AvAudioLineIn->SetName(QStringLiteral("AvAudioLineIn"));
    AvAudioLineIn->SetMixer(AvMixerDeviceIn);
    AvAudioLineIn->SetComponentType(ctDstWaveIn);

    AvMixerControlIn = new TAvMixerControl(this);
    AvMixerControlIn->SetName(QStringLiteral("AvMixerControlIn"));
    AvMixerControlIn->SetAudioLine(AvAudioLineIn);
    AvMixerControlIn->SetControlType(ctMixer);

    AvMixerLabelConnector1 = new TAvMixerLabelConnector(this);
    AvMixerLabelConnector1->SetName(QStringLiteral("AvMixerLabelConnector1"));
    AvMixerLabelConnector1->SetSource(AvAudioLineIn);

    // Bound when a test starts.
    AvAudioLineInMicrophone = new TAvAudioLine(this);
    AvAudioLineInMicrophone->SetName(QStringLiteral("AvAudioLineInMicrophone"));
}

void TAudioInForm::CreateControls() {
    Label1 = new TLabel(this);
    Label1->SetName(QStringLiteral("Label1"));
    Label1->SetParent(this);
    Label1->SetBounds(16, 39, 0, 0);
    Label1->SetCaption(tr("选择您要使用的麦克风："));

    AvDeviceComBoxIn = new TAvDeviceComboBox(this);
    AvDeviceComBoxIn->SetName(QStringLiteral("AvDeviceComBoxIn"));
    AvDeviceComBoxIn->SetParent(this);
    AvDeviceComBoxIn->SetBounds(16, 58, 145, 21);
    AvDeviceComBoxIn->SetDevice(AvMixerDeviceIn);
    AvDeviceComBoxIn->SetItemIndex(0);
    AvDeviceComBoxIn->SetTabOrder(0);
    Label1->SetFocusControl(AvDeviceComBoxIn);

    ButtonTest = new TButton(this);
    ButtonTest->SetName(QStringLiteral("ButtonTest"));
    ButtonTest->SetParent(this);
    ButtonTest->SetBounds(16, 97, 75, 25);
    ButtonTest->SetCaption(tr("测试"));
    ButtonTest->SetTabOrder(2);
    ButtonTest->SetTag(0);
    ButtonTest->OnClick.Assign(this, &TAudioInForm::ButtonTestClick);

    // What is missing, in one line beside the button; hidden while there is a microphone.
    LabelMissing = new TLabel(this);
    LabelMissing->SetName(QStringLiteral("LabelMissing"));
    LabelMissing->SetParent(this);
    LabelMissing->SetBounds(16, 182, 185, 45);
    LabelMissing->SetWordWrap(true);
    LabelMissing->Font()->SetColor(clMaroon);
    LabelMissing->SetVisible(false);

    Label2 = new TLabel(this);
    Label2->SetName(QStringLiteral("Label2"));
    Label2->SetParent(this);
    Label2->SetBounds(10, 136, 156, 39);
    Label2->SetWordWrap(true);
    Label2->SetCaption(tr("当您对着麦克风说话时，指向黄色区域，则表示麦克风已经调节正常。"));

    Label3 = new TLabel(this);
    Label3->SetName(QStringLiteral("Label3"));
    Label3->SetParent(this);
    Label3->SetBounds(8, 232, 192, 26);
    Label3->SetWordWrap(true);
    Label3->SetCaption(tr("如果有问题，请检查麦克风已经插好并打开，并且没有设为静音。"));
}

void TAudioInForm::CreateMeterAndBlock() {
    AvLevel1 = new TAvLevel(this);
    AvLevel1->SetName(QStringLiteral("AvLevel1"));
    AvLevel1->SetParent(this);
    AvLevel1->SetBounds(208, 67, 17, 191);
    AvLevel1->SetKind(lkVertical);
    AvLevel1->SetBar1Color(15588544);
    AvLevel1->SetBar2Color(clYellow);
    AvLevel1->SetBitLength(b16Bit);
    AvLevel1->SetMode(mStereo);
    AvLevel1->Bevel()->SetBevelOuter(bvLowered);
    // Fed a block every 6.25 ms while testing; pictures at the screen's pace are enough.
    AvLevel1->SetDrawInterval(16);
    AvLevel1->setAccessibleName(tr("麦克风音量指示"));

    AvMixerBlockInMicrophone = new TAvMixerBlock(this);
    AvMixerBlockInMicrophone->SetName(QStringLiteral("AvMixerBlockInMicrophone"));
    AvMixerBlockInMicrophone->SetParent(this);
    AvMixerBlockInMicrophone->SetBounds(247, 8, 100, 250);
    AvMixerBlockInMicrophone->SetLine(AvAudioLineInMicrophone);
    AvMixerBlockInMicrophone->Bevel()->SetBevelOuter(bvLowered);
    AvMixerBlockInMicrophone->SetTabOrder(1);

    Label4 = new TLabel(this);
    Label4->SetName(QStringLiteral("Label4"));
    Label4->SetParent(AvMixerBlockInMicrophone);
    Label4->SetBounds(24, 224, 0, 0);
    Label4->SetCaption(tr("麦克风音量"));

    AvMixerBlockSlider2 = new TAvMixerBlockSlider(this);
    AvMixerBlockSlider2->SetName(QStringLiteral("AvMixerBlockSlider2"));
    AvMixerBlockSlider2->SetParent(AvMixerBlockInMicrophone);
    AvMixerBlockSlider2->SetBounds(8, 59, 84, 161);
    AvMixerBlockSlider2->SetRole(srLeftVolume);
    AvMixerBlockSlider2->SetLogarithmic(true);
    AvMixerBlockSlider2->SetOrientation(orVertical);
    AvMixerBlockSlider2->SetThumbWidth(23);
    AvMixerBlockSlider2->SetThumbHeight(11);
    AvMixerBlockSlider2->Scale()->SetVisible(true);
    AvMixerBlockSlider2->Scale()->SetTickCount(7);
    AvMixerBlockSlider2->Scale()->SetEnlargeEvery(6);
    AvMixerBlockSlider2->Scale()->SetSize(6);
    AvMixerBlockSlider2->SetScalePosition(spBoth);
    AvMixerBlockSlider2->Bevel()->SetBorderWidth(5);
    AvMixerBlockSlider2->SetPosition(1);
    Label4->SetFocusControl(AvMixerBlockSlider2);

    // No role stored: the balance slider, with the speaker pictures at its ends.
    AvMixerBlockSlider1 = new TAvMixerBlockSlider(this);
    AvMixerBlockSlider1->SetName(QStringLiteral("AvMixerBlockSlider1"));
    AvMixerBlockSlider1->SetParent(AvMixerBlockInMicrophone);
    AvMixerBlockSlider1->SetBounds(8, 7, 84, 40);
    AvMixerBlockSlider1->SetVisible(false);
    AvMixerBlockSlider1->SetLogarithmic(false);
    AvMixerBlockSlider1->Scale()->SetTickCount(3);
    AvMixerBlockSlider1->Scale()->SetEnlargeEvery(2);
    AvMixerBlockSlider1->SetScalePosition(spBelowOrRight);
    AvMixerBlockSlider1->SetPosition(1);
    AvMixerBlockSlider1->SetAccessibleName(tr("平衡"));

    AvMixerBlockCheck1 = new TAvMixerBlockCheck(this);
    AvMixerBlockCheck1->SetName(QStringLiteral("AvMixerBlockCheck1"));
    AvMixerBlockCheck1->SetParent(AvMixerBlockInMicrophone);
    AvMixerBlockCheck1->SetBounds(8, 226, 84, 17);
    AvMixerBlockCheck1->SetVisible(false);
}

void TAudioInForm::CreateRecorder() {
    AvWaveIn = new TAvWaveIn(this);
    AvWaveIn->SetName(QStringLiteral("AvWaveIn"));
    AvWaveIn->SetSampleRate(8000);
    AvWaveIn->SetBitLength(b16Bit);
    AvWaveIn->SetMode(mStereo);
    AvWaveIn->SetBufferSize(2000);
    AvWaveIn->OnBufferReady.Assign(this, &TAudioInForm::AvWaveInBufferReady);
    AvWaveIn->OnClose.Assign(this, &TAudioInForm::AvWaveInClose);

    Connector = new TAvConnector(this);
    Connector->SetName(QStringLiteral("Connector"));
    Connector->SetLevel1(AvLevel1);
    TAvConnector::SetEnterIdle(false);
    AvWaveIn->SetOutput(Connector);
}

void TAudioInForm::FormCreate(TObject*) {
    BuildPcmFormat(&FSampleFormat, 16, 2, 8000);
}
void TAudioInForm::FormDestroy(TObject*) {}

void TAudioInForm::FormClose(TObject*, TCloseAction&) {
    ButtonTest->SetTag(0);
    ButtonTest->SetCaption(tr("测试"));
    StopTest();
}

void TAudioInForm::ButtonTestClick(TObject*) {
    if (ButtonTest->Tag() == 0) {
        ButtonTest->SetTag(1);
        ButtonTest->SetCaption(tr("停止"));
        StartTest();
    } else {
        ButtonTest->SetTag(0);
        ButtonTest->SetCaption(tr("测试"));
        StopTest();
    }
}

bool IsMicrophoneLineName(const QString& name) {
    // Only ASCII letters are folded: the names come from the platform as UTF-8, and the Chinese
    // words are compared as they stand.
    QString lower = name;
    for (QChar& c : lower)
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + (u'a' - u'A'));
    return lower.contains(QStringLiteral("麦克")) || lower.contains(QStringLiteral("录音")) ||
           lower.contains(QStringLiteral("microphone"));
}

void TAudioInForm::FindMicrophone() {
    const int count = AvAudioLineIn->Connections();
    for (int i = 0; i < count; ++i) {
        AvAudioLineInMicrophone->SetLineId(AvAudioLineIn->Connection(i));
        if (IsMicrophoneLineName(AvAudioLineInMicrophone->LineInfo()->Name())) break;
    }
}

void TAudioInForm::BindMicrophone() {
    AvMixerControlIn->SetControlType(ctMixer);
    if (!AvMixerControlIn->IsValid()) AvMixerControlIn->SetControlType(ctMux);
    AvMixerBlockInMicrophone->SetMixer(AvMixerControlIn);
    AvAudioLineInMicrophone->SetMixer(AvMixerDeviceIn);
    FindMicrophone();
    if (TAvCustomBlockCheck* check = AvMixerBlockInMicrophone->CheckBox())
        check->SetCaption(AvMixerBlockInMicrophone->MuteKind() == mkSelect ? tr("&Select")
                                                                           : tr("&Mute"));
}

void TAudioInForm::DoShow() {
    UpdateMissing();
    if (!FShownOnce) {
        FShownOnce = true;
        BindMicrophone();
    }
    TForm::DoShow();
}

void TAudioInForm::UpdateMissing() {
    if (!LabelMissing) return; // the page is still being made
    QString missing;
    if (!AudioBackend().ServerRunning())
        missing = tr("声音服务器没有运行。启动后本页会自动更新。");
    else if (waveInGetNumDevs() == 0)
        missing = tr("未找到麦克风。插好后本页会自动更新。");
    LabelMissing->SetCaption(missing);
    LabelMissing->SetVisible(!missing.isEmpty());
}

void TAudioInForm::AvMixerDeviceInChange(TObject*) {
    // Devices came or went (the mixer hears of every change): the page says what is missing.
    UpdateMissing();
    // Another device in the list (the user's pick, the settings file, or the first device
    // standing in for one that went): a running test records there, so the meter, the automatic
    // lowering and the slider all act on one microphone.
    MoveTest();
    // Before the page has been shown the first show binds; a failure here must not stop the
    // mixer from reopening on its new device, so it goes to the default handler instead.
    if (!FShownOnce) return;
    GuardedCall(this, [this] {
        try {
            BindMicrophone();
        } catch (const EAvMCIError& e) {
            // A device that went while the list changes is no fault of the user's: the recorder
            // reports a test it ends, and the next change binds again.
            if (e.ErrorCode() != MMSYSERR_NODRIVER && e.ErrorCode() != MMSYSERR_BADDEVICEID) throw;
        }
    });
}

void TAudioInForm::StartTest() {
    BindMicrophone();
    AvMixerBlockCheck1->SetChecked(true);
    AvMixerBlockSlider2->SetPosition(RememberedInPos);
    // The chosen device, else device 0; when both fail the page stays in the testing state
    // and shows nothing, without a message.
    FStarting = true;
    const auto started = qScopeGuard([this] { FStarting = false; });
    try {
        AvWaveIn->SetDeviceID(AvDeviceComBoxIn->ItemIndex());
        AvWaveIn->Start();
    } catch (const std::exception&) {
        try {
            AvWaveIn->SetDeviceID(0);
            AvWaveIn->Start();
            // Recording on the first device: the list, the mixer and the slider go there too.
            if (AvMixerDeviceIn->DeviceCount() > 0 && AvMixerDeviceIn->DeviceId() != 0) {
                AvMixerDeviceIn->SetDeviceId(0);
                AvMixerBlockSlider2->SetPosition(RememberedInPos);
            }
        } catch (const std::exception&) {
        }
    }
}

void TAudioInForm::MoveTest() {
    if (!ButtonTest) return; // the page is still being made
    const TAvDeviceId id = AvMixerDeviceIn->DeviceId();
    if (ButtonTest->Tag() != 1 || FStarting || id < 0 || id == AvWaveIn->DeviceID()) return;
    FStarting = true;
    const auto started = qScopeGuard([this] { FStarting = false; });
    StopTest();
    GuardedCall(this, [this, id] {
        AvWaveIn->SetDeviceID(id);
        AvWaveIn->Start();
    });
    // A failed start is reported; the page is idle again, as after a device lost mid-test.
    if (!AvWaveIn->DeviceOpen()) {
        ButtonTest->SetTag(0);
        ButtonTest->SetCaption(tr("测试"));
    }
}

void TAudioInForm::StopTest() {
    AvWaveIn->Stop();
    AvWaveIn->Close();
}

void TAudioInForm::AvWaveInClose(TObject*) {
    if (FStarting) return;
    ButtonTest->SetTag(0);
    ButtonTest->SetCaption(tr("测试"));
}

void TAudioInForm::AvWaveInBufferReady(TObject*, TAvWaveHdr* lpWaveHdr) {
    std::int16_t left = 0;
    std::int16_t right = 0;
    // Only what was recorded: a buffer handed back part-filled at a stop holds older data
    // behind it.
    FindPeaks(&FSampleFormat, lpWaveHdr->lpData,
              static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded), left, right);
    // By magnitude: a microphone is as loud on its negative swings as on its positive ones
    // (a tone whose lowest sample is the largest would otherwise never count).
    if (std::max(std::abs(int{left}), std::abs(int{right})) > MicrophoneLoudPeak)
        AvMixerBlockSlider2->SetPosition(
            std::max(AvMixerBlockSlider2->Position() - 1, MicrophoneLowestAutoPosition));
}
