#include "app/AudioInWizardUnit.h"

#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "audio/stream/AvWavOut.h"
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"

#include <QScopeGuard>

#include <cstdlib>

TAudioInForm* AudioInForm = nullptr;

TAudioInForm::TAudioInForm(TComponent* AOwner) : TAudioPageForm(AOwner) {
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

void TAudioInForm::CreatePageParts() {
    CreateMeterAndBlock();
    CreateRecorder();
    CreateChecks();
}

void TAudioInForm::CreateChecks() {
    ButtonPlayback = new TButton(this);
    ButtonPlayback->SetName(QStringLiteral("ButtonPlayback"));
    ButtonPlayback->SetParent(this);
    ButtonPlayback->SetBounds(97, 97, 85, 25);
    ButtonPlayback->SetCaption(tr("录音回放"));
    ButtonPlayback->SetTabOrder(3);
    ButtonPlayback->OnClick.Assign(this, &TAudioInForm::ButtonPlaybackClick);

    // Where the missing line would be: the two never show together.
    LabelProblem = new TLabel(this);
    LabelProblem->SetName(QStringLiteral("LabelProblem"));
    LabelProblem->SetParent(this);
    LabelProblem->SetBounds(16, 178, 185, 28);
    LabelProblem->SetWordWrap(true);
    LabelProblem->Font()->SetColor(clMaroon);
    LabelProblem->SetVisible(false);

    ButtonUnmute = new TButton(this);
    ButtonUnmute->SetName(QStringLiteral("ButtonUnmute"));
    ButtonUnmute->SetParent(this);
    ButtonUnmute->SetBounds(16, 206, 75, 23);
    ButtonUnmute->SetCaption(tr("取消静音"));
    ButtonUnmute->SetTabOrder(4);
    ButtonUnmute->SetVisible(false);
    ButtonUnmute->OnClick.Assign(this, &TAudioInForm::ButtonUnmuteClick);

    CheckBoxAutoAdjust = new TCheckBox(this);
    CheckBoxAutoAdjust->SetName(QStringLiteral("CheckBoxAutoAdjust"));
    CheckBoxAutoAdjust->SetParent(this);
    CheckBoxAutoAdjust->SetBounds(8, 266, 200, 17);
    CheckBoxAutoAdjust->SetCaption(tr("自动调节麦克风音量"));
    CheckBoxAutoAdjust->SetChecked(true);
    CheckBoxAutoAdjust->SetTabOrder(5);

    PlaybackTest = new TPlaybackTest(this);
    PlaybackTest->OnProgress = [this](TPlaybackTest::TPhase phase, double seconds,
                                      const QString& problem) {
        PlaybackProgress(phase, seconds, problem);
    };
}

void TAudioInForm::CreateMixerComponents() {
    AvMixerDeviceIn = new TAvMixerDevice(this);
    AvMixerDeviceIn->SetName(QStringLiteral("AvMixerDeviceIn"));
    AvMixerDeviceIn->SetActive(true);
    AvMixerDeviceIn->OnChange.Assign(this, &TAudioInForm::AvMixerDeviceInChange);
    AvMixerDeviceIn->OnControlChange.Assign(this, &TAudioInForm::AvMixerDeviceInControlChange);

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
    PlaybackTest->Stop();
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
    UpdateProblem();
    if (!FShownOnce) {
        FShownOnce = true;
        BindMicrophone();
    }
    TAudioPageForm::DoShow();
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
    FSilentMs = 0;
    FSinceClipMs = 1e9;
    UpdateProblem();
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
    FSilentMs = 0;
    FSinceClipMs = 1e9;
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
    // Silence and clipping are what a running test finds.
    FSilentMs = 0;
    FSinceClipMs = 1e9;
    UpdateProblem();
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
    // Silence and clipping, over the buffer's recorded part.
    const std::size_t samples = lpWaveHdr->dwBytesRecorded / 2;
    const TSoundLevels levels =
        MeasureLevels(reinterpret_cast<const std::int16_t*>(lpWaveHdr->lpData), samples);
    const double ms = samples / 2 * 1000.0 / FSampleFormat.nSamplesPerSec;
    const bool wasSilent = FSilentMs >= MicrophoneSilenceMs;
    const bool wasClipping = FSinceClipMs < MicrophoneSilenceMs;
    FSilentMs = levels.Signal ? 0 : FSilentMs + ms;
    FSinceClipMs = levels.Clipped ? 0 : FSinceClipMs + ms;
    if (wasSilent != (FSilentMs >= MicrophoneSilenceMs) ||
        wasClipping != (FSinceClipMs < MicrophoneSilenceMs))
        UpdateProblem();
    // By magnitude: a microphone is as loud on its negative swings as on its positive ones
    // (a tone whose lowest sample is the largest would otherwise never count).
    if (CheckBoxAutoAdjust->Checked() &&
        std::max(std::abs(int{left}), std::abs(int{right})) > MicrophoneLoudPeak)
        AvMixerBlockSlider2->SetPosition(
            std::max(AvMixerBlockSlider2->Position() - 1, MicrophoneLowestAutoPosition));
}

void TAudioInForm::UpdateProblem() {
    if (!ButtonUnmute) return; // the page is still being made
    QString text;
    bool unmute = false;
    const TAvDeviceId id = AvMixerDeviceIn->DeviceId();
    const QString name = AvDeviceComBoxIn->Items().value(AvDeviceComBoxIn->ItemIndex());
    if (id >= 0 && !LabelMissing->Visible()) {
        const TLineState line = ReadLineState(static_cast<UINT>(id), true);
        unmute = line.Muted || line.VolumePercent == 0;
        if (line.Muted)
            text = tr("麦克风“%1”已静音。").arg(name);
        else if (line.VolumePercent == 0)
            text = tr("麦克风“%1”的音量为 0。").arg(name);
        else if (FSilentMs >= MicrophoneSilenceMs)
            text = tr("麦克风“%1”3 秒内只录到了静音。请检查它是否插好，是否被设为静音。").arg(name);
        else if (FSinceClipMs < MicrophoneSilenceMs)
            text = tr("麦克风“%1”的声音太大，已经失真。请调低麦克风音量。").arg(name);
    }
    LabelProblem->SetCaption(text);
    // Down to the hint below when no button needs the room.
    LabelProblem->SetBounds(16, 178, 185, unmute ? 28 : 52);
    LabelProblem->SetVisible(!text.isEmpty());
    ButtonUnmute->SetVisible(unmute);
}

void TAudioInForm::ButtonUnmuteClick(TObject*) {
    const TAvDeviceId id = AvMixerDeviceIn->DeviceId();
    // A volume at 0 comes back at the remembered position, or half way when that is 0 too.
    if (id >= 0)
        UnmuteLine(static_cast<UINT>(id), true, RememberedInPos > 0 ? RememberedInPos : 50);
    FSilentMs = 0;
    UpdateProblem();
}

void TAudioInForm::AvMixerDeviceInControlChange(TObject*, TAvLineId, TAvControlId) {
    UpdateProblem();
}

void TAudioInForm::ButtonPlaybackClick(TObject*) {
    if (PlaybackTest->Phase() != TPlaybackTest::phIdle) {
        PlaybackTest->Stop();
        return;
    }
    // One recorder at a time on the device: the meter's test stops.
    if (ButtonTest->Tag() == 1) ButtonTestClick(ButtonTest);
    const int microphone = std::max(AvDeviceComBoxIn->ItemIndex(), 0);
    const int speaker =
        AudioOutForm ? std::max(AudioOutForm->AvDeviceComBoxOut->ItemIndex(), 0) : 0;
    QString problem;
    if (!PlaybackTest->Start(static_cast<UINT>(microphone), static_cast<UINT>(speaker), &problem))
        throw EAvWaveInError(problem);
}

void TAudioInForm::PlaybackProgress(TPlaybackTest::TPhase phase, double seconds,
                                    const QString& problem) {
    const int left = std::max(0, TPlaybackTest::Seconds - static_cast<int>(seconds));
    switch (phase) {
    case TPlaybackTest::phRecording:
        ButtonPlayback->SetCaption(tr("录音中 %1 秒").arg(left));
        break;
    case TPlaybackTest::phPlaying:
        ButtonPlayback->SetCaption(tr("回放中 %1 秒").arg(left));
        break;
    case TPlaybackTest::phIdle:
        ButtonPlayback->SetCaption(tr("录音回放"));
        if (!problem.isEmpty())
            GuardedCall(this, [&] {
                if (problem.startsWith(QLatin1String("WaveIn"))) throw EAvWaveInError(problem);
                throw EAvWaveOutError(problem);
            });
        break;
    }
}
