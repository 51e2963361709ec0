#include "app/AudioOutWizardUnit.h"

#include "app/AudioInWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/Installation.h"
#include "platform/api/AudioBackend.h"
#include "platform/api/mmsystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>

#include <cstring>

TAudioOutForm* AudioOutForm = nullptr;

TAudioOutForm::TAudioOutForm(TComponent* AOwner) : TAudioPageForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("AudioOutForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 828, 464);
    SetColor(clBtnFace);

    CreateComponents();
    EndLoading();
    OnClick.Assign(this, &TAudioOutForm::FormClick);
    UpdateMissing();
    UpdateMuted();
}

void TAudioOutForm::CreatePageParts() {
    CreateBlocks();
    CreatePlayer();
}

void TAudioOutForm::CreatePlayer() {
    AvWavePlayer1 = new TAvWavePlayer(this);
    AvWavePlayer1->SetName(QStringLiteral("AvWavePlayer1"));
    AvWavePlayer1->SetBufferSize(2048);
    AvWavePlayer1->SetNumBuffers(10);
    AvWavePlayer1->SetDeviceID(0);
    AvWavePlayer1->SetTimeFormat(tfByte);
    AvWavePlayer1->SetCallBackMode(cmWindow);
    AvWavePlayer1->SetLooping(true);
    AvWavePlayer1->SetLoopCount(0);
    AvWavePlayer1->OnStop.Assign(this, &TAudioOutForm::AvWavePlayer1Stop);
    TestSoundFile =
        av::ProgramDataFile(QCoreApplication::applicationDirPath(), QStringLiteral("TestSnd.wav"));
    EchoListener = new TEchoListener(this);
    EchoListener->OnResult = [this](const TEchoResult& r) { ShowHeard(r); };
}

void TAudioOutForm::CreateMixerComponents() {
    AvMixerDeviceOut = new TAvMixerDevice(this);
    AvMixerDeviceOut->SetName(QStringLiteral("AvMixerDeviceOut"));
    // Open, so the mixer's change notices reach the sliders: a volume or mute changed by another
    // program shows here, and the next move acts from it.
    AvMixerDeviceOut->SetActive(true);
    AvMixerDeviceOut->OnChange.Assign(this, &TAudioOutForm::AvMixerDeviceOutChange);
    AvMixerDeviceOut->OnControlChange.Assign(this, &TAudioOutForm::AvMixerDeviceOutControlChange);

    AvAudioLineWaveSound = new TAvAudioLine(this);
    AvAudioLineWaveSound->SetName(QStringLiteral("AvAudioLineWaveSound"));
    AvAudioLineWaveSound->SetMixer(AvMixerDeviceOut);
    AvAudioLineWaveSound->SetComponentType(ctDstSpeakers);

    AvAudioLineOutSound = new TAvAudioLine(this);
    AvAudioLineOutSound->SetName(QStringLiteral("AvAudioLineOutSound"));
    AvAudioLineOutSound->SetMixer(AvMixerDeviceOut);
    AvAudioLineOutSound->SetComponentType(ctSrcWaveOut);

    AvAudioLineOutMicrophone = new TAvAudioLine(this);
    AvAudioLineOutMicrophone->SetName(QStringLiteral("AvAudioLineOutMicrophone"));
    AvAudioLineOutMicrophone->SetMixer(AvMixerDeviceOut);
    AvAudioLineOutMicrophone->SetComponentType(ctSrcMicrophone);

    AvMixerControlWaveSound = new TAvMixerControl(this);
    AvMixerControlWaveSound->SetName(QStringLiteral("AvMixerControlWaveSound"));
    AvMixerControlWaveSound->SetAudioLine(AvAudioLineWaveSound);
    AvMixerControlWaveSound->SetControlType(ctMixer);

    AvMixerControlOutSound = new TAvMixerControl(this);
    AvMixerControlOutSound->SetName(QStringLiteral("AvMixerControlOutSound"));
    AvMixerControlOutSound->SetAudioLine(AvAudioLineOutSound);
    AvMixerControlOutSound->SetControlType(ctMixer);

    AvMixerControlOutMicrophone = new TAvMixerControl(this);
    AvMixerControlOutMicrophone->SetName(QStringLiteral("AvMixerControlOutMicrophone"));
    AvMixerControlOutMicrophone->SetAudioLine(AvAudioLineOutMicrophone);
}

void TAudioOutForm::CreateControls() {
    Label1 = new TLabel(this);
    Label1->SetName(QStringLiteral("Label1"));
    Label1->SetParent(this);
    Label1->SetBounds(24, 21, 0, 0);
    Label1->SetCaption(tr("选择您要使用的扬声器或耳机："));

    AvDeviceComBoxOut = new TAvDeviceComboBox(this);
    AvDeviceComBoxOut->SetName(QStringLiteral("AvDeviceComBoxOut"));
    AvDeviceComBoxOut->SetParent(this);
    AvDeviceComBoxOut->SetBounds(24, 40, 145, 21);
    AvDeviceComBoxOut->SetDevice(AvMixerDeviceOut);
    AvDeviceComBoxOut->SetItemIndex(0);
    AvDeviceComBoxOut->SetTabOrder(2);
    Label1->SetFocusControl(AvDeviceComBoxOut);

    ButtonTest = new TButton(this);
    ButtonTest->SetName(QStringLiteral("ButtonTest"));
    ButtonTest->SetParent(this);
    ButtonTest->SetBounds(24, 134, 75, 25);
    ButtonTest->SetCaption(tr("播放声音"));
    ButtonTest->SetTabOrder(0);
    ButtonTest->SetTag(0);
    ButtonTest->OnClick.Assign(this, &TAudioOutForm::ButtonTestClick);

    // What is missing, in one line under the list; hidden while there is a device to test.
    LabelMissing = new TLabel(this);
    LabelMissing->SetName(QStringLiteral("LabelMissing"));
    LabelMissing->SetParent(this);
    LabelMissing->SetBounds(24, 68, 200, 52);
    LabelMissing->SetWordWrap(true);
    LabelMissing->Font()->SetColor(clMaroon);
    LabelMissing->SetVisible(false);

    // The muted speaker, where the missing line would be (they never show together).
    LabelMuted = new TLabel(this);
    LabelMuted->SetName(QStringLiteral("LabelMuted"));
    LabelMuted->SetParent(this);
    LabelMuted->SetBounds(24, 68, 200, 28);
    LabelMuted->SetWordWrap(true);
    LabelMuted->Font()->SetColor(clMaroon);
    LabelMuted->SetVisible(false);

    ButtonUnmute = new TButton(this);
    ButtonUnmute->SetName(QStringLiteral("ButtonUnmute"));
    ButtonUnmute->SetParent(this);
    ButtonUnmute->SetBounds(24, 98, 75, 25);
    ButtonUnmute->SetCaption(tr("取消静音"));
    ButtonUnmute->SetTabOrder(1);
    ButtonUnmute->SetVisible(false);
    ButtonUnmute->OnClick.Assign(this, &TAudioOutForm::ButtonUnmuteClick);

    // Under the test button: whether the microphone heard the sound.
    LabelHeard = new TLabel(this);
    LabelHeard->SetName(QStringLiteral("LabelHeard"));
    LabelHeard->SetParent(this);
    LabelHeard->SetBounds(24, 164, 200, 36);
    LabelHeard->SetWordWrap(true);
    LabelHeard->SetVisible(false);

    Label2 = new TLabel(this);
    Label2->SetName(QStringLiteral("Label2"));
    Label2->SetParent(this);
    Label2->SetBounds(18, 202, 204, 26);
    Label2->Constraints().MaxWidth = 250;
    Label2->SetWordWrap(true);
    Label2->SetCaption(tr("如果有问题，请检查扬声器或耳机已经插好并打开，并调节到适当的音量。"));
}

namespace {

// A vertical, logarithmic left-volume slider as the page's blocks store it.
TAvMixerBlockSlider* NewVolumeSlider(TForm* form, TAvMixerBlock* block, const QString& name,
                                     const TRect& bounds) {
    auto* s = new TAvMixerBlockSlider(form);
    s->SetName(name);
    s->SetParent(block);
    s->SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
    s->SetRole(srLeftVolume);
    s->SetLogarithmic(true);
    s->SetOrientation(orVertical);
    return s;
}

TAvMixerBlockCheck* NewBlockCheck(TForm* form, TAvMixerBlock* block, const QString& name,
                                  const TRect& bounds) {
    auto* c = new TAvMixerBlockCheck(form);
    c->SetName(name);
    c->SetParent(block);
    c->SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
    return c;
}

TAvMixerBlock* NewBlock(TForm* form, const QString& name, const TRect& bounds, TAvAudioLine* line,
                        TAvMixerControl* mixer) {
    auto* b = new TAvMixerBlock(form);
    b->SetName(name);
    b->SetParent(form);
    b->SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
    b->SetLine(line);
    b->SetMixer(mixer);
    return b;
}

} // namespace

void TAudioOutForm::CreateBlocks() {
    AvMixerBlockWaveSound =
        NewBlock(this, QStringLiteral("AvMixerBlockWaveSound"), Bounds(231, 8, 100, 250),
                 AvAudioLineWaveSound, AvMixerControlWaveSound);
    AvMixerBlockWaveSound->Bevel()->SetBevelOuter(bvLowered);
    AvMixerBlockWaveSound->SetTabOrder(3);

    Label3 = new TLabel(this);
    Label3->SetName(QStringLiteral("Label3"));
    Label3->SetParent(AvMixerBlockWaveSound);
    Label3->SetBounds(24, 224, 0, 0);
    Label3->SetCaption(tr("扬声器音量"));

    AvMixerBlockSlider6 = NewVolumeSlider(
        this, AvMixerBlockWaveSound, QStringLiteral("AvMixerBlockSlider6"), Bounds(8, 13, 84, 207));
    AvMixerBlockSlider6->SetThumbWidth(23);
    AvMixerBlockSlider6->SetThumbHeight(11);
    AvMixerBlockSlider6->SetGrooveSize(1);
    AvMixerBlockSlider6->Scale()->SetVisible(true);
    AvMixerBlockSlider6->Scale()->SetTickCount(7);
    AvMixerBlockSlider6->Scale()->SetEnlargeEvery(6);
    AvMixerBlockSlider6->Scale()->SetSize(6);
    AvMixerBlockSlider6->SetScalePosition(spBoth);
    AvMixerBlockSlider6->Bevel()->SetBorderWidth(5);
    AvMixerBlockSlider6->SetPosition(79);
    AvMixerBlockSlider6->OnChange.Assign(this, &TAudioOutForm::AvMixerBlockSlider6Change);
    Label3->SetFocusControl(AvMixerBlockSlider6);

    AvMixerBlockCheck3 = NewBlockCheck(
        this, AvMixerBlockWaveSound, QStringLiteral("AvMixerBlockCheck3"), Bounds(8, 226, 84, 17));
    AvMixerBlockCheck3->SetVisible(false);

    AvMixerBlockOutSound =
        NewBlock(this, QStringLiteral("AvMixerBlockOutSound"), Bounds(384, 8, 97, 250),
                 AvAudioLineOutSound, AvMixerControlOutSound);
    AvMixerBlockOutSound->SetVisible(false);
    AvMixerBlockSlider4 = NewVolumeSlider(
        this, AvMixerBlockOutSound, QStringLiteral("AvMixerBlockSlider4"), Bounds(8, 13, 81, 207));
    AvMixerBlockSlider4->SetPosition(79);
    AvMixerBlockCheck2 = NewBlockCheck(
        this, AvMixerBlockOutSound, QStringLiteral("AvMixerBlockCheck2"), Bounds(8, 226, 81, 17));

    AvMixerBlock1 = NewBlock(this, QStringLiteral("AvMixerBlock1"), Bounds(536, 8, 100, 250),
                             AvAudioLineOutMicrophone, AvMixerControlOutMicrophone);
    AvMixerBlock1->SetVisible(false);
    AvMixerBlockCheck4 = NewBlockCheck(this, AvMixerBlock1, QStringLiteral("AvMixerBlockCheck4"),
                                       Bounds(8, 226, 84, 17));
    AvMixerBlockCheck4->SetChecked(true);
    AvMixerBlockSlider7 = NewVolumeSlider(
        this, AvMixerBlock1, QStringLiteral("AvMixerBlockSlider7"), Bounds(8, 13, 84, 207));
}

void TAudioOutForm::AvMixerBlockSlider6Change(TObject*) {
    AvMixerBlockSlider4->SetPosition(AvMixerBlockSlider6->Position());
}

void TAudioOutForm::ButtonTestClick(TObject*) {
    if (ButtonTest->Tag() == 0) {
        StartTestSound(); // raises on failure: the button stays idle
        ButtonTest->SetTag(1);
        ButtonTest->SetCaption(tr("停止"));
    } else {
        StopTestSound();
        ButtonTest->SetTag(0);
        ButtonTest->SetCaption(tr("播放声音"));
    }
    // The remembered volume; the wave-output slider and the mixer follow through the change event.
    AvMixerBlockSlider6->SetPosition(RememberedOutPos);
}

void TAudioOutForm::FormClick(TObject*) {
    StopTestSound();
    ButtonTest->SetTag(0);
    ButtonTest->SetCaption(tr("播放声音"));
}

void TAudioOutForm::AvWavePlayer1Stop(TObject*) {
    if (FMovingTest) return; // the test goes on elsewhere; a failed move sets idle itself
    EchoListener->Stop();
    ButtonTest->SetTag(0);
    ButtonTest->SetCaption(tr("播放声音"));
}

void TAudioOutForm::StartTestSound() {
    // Item i of the list is mixer i and playback device i; nothing chosen: the mapper.
    AvWavePlayer1->SetDeviceID(AvDeviceComBoxOut->ItemIndex() >= 0 ? AvDeviceComBoxOut->ItemIndex()
                                                                   : -1);
    AvWavePlayer1->OpenFile(TestSoundFile);
    StartListening(); // first, so the delay found runs from the player's start to the ear
    AvWavePlayer1->Play();
}

void TAudioOutForm::StartListening() {
    EchoListener->Stop();
    FListeningTo.clear();
    // The microphone page's device: the remembered one, else the first.
    const int count = static_cast<int>(waveInGetNumDevs());
    int microphone = AudioInForm ? AudioInForm->AvDeviceComBoxIn->ItemIndex() : 0;
    if (microphone < 0 || microphone >= count) microphone = 0;
    if (count == 0 || (FSound.Mono.empty() && !LoadPcm16Sound(TestSoundFile, &FSound)) ||
        !EchoListener->Start(static_cast<UINT>(microphone), FSound)) {
        LabelHeard->SetVisible(false);
        return;
    }
    WAVEINCAPSA caps{};
    if (waveInGetDevCapsA(static_cast<UINT>(microphone), &caps, sizeof caps) == MMSYSERR_NOERROR)
        FListeningTo = QString::fromUtf8(
            caps.szPname, static_cast<qsizetype>(strnlen(caps.szPname, MAXPNAMELEN)));
    LabelHeard->Font()->SetColor(clWindowText);
    LabelHeard->SetCaption(tr("正在用麦克风“%1”听……").arg(FListeningTo));
    LabelHeard->SetVisible(true);
}

void TAudioOutForm::ShowHeard(const TEchoResult& result) {
    if (result.Heard) {
        LabelHeard->Font()->SetColor(clGreen);
        LabelHeard->SetCaption(tr("麦克风“%1”听到了测试声音，往返延迟 %2 毫秒。")
                                   .arg(FListeningTo)
                                   .arg(qRound(result.LatencyMs)));
    } else {
        LabelHeard->Font()->SetColor(clMaroon);
        LabelHeard->SetCaption(
            tr("麦克风“%1”没有听到测试声音。请检查音量和静音。").arg(FListeningTo));
    }
}

void TAudioOutForm::UpdateMuted() {
    if (!ButtonUnmute) return; // the page is still being made
    QString text;
    const TAvDeviceId id = AvMixerDeviceOut->DeviceId();
    if (id >= 0 && !LabelMissing->Visible()) {
        const TLineState line = ReadLineState(static_cast<UINT>(id), false);
        const QString name = AvDeviceComBoxOut->Items().value(AvDeviceComBoxOut->ItemIndex());
        if (line.Muted)
            text = tr("扬声器“%1”已静音。").arg(name);
        else if (line.VolumePercent == 0)
            text = tr("扬声器“%1”的音量为 0。").arg(name);
    }
    LabelMuted->SetCaption(text);
    LabelMuted->SetVisible(!text.isEmpty());
    ButtonUnmute->SetVisible(!text.isEmpty());
}

void TAudioOutForm::ButtonUnmuteClick(TObject*) {
    const TAvDeviceId id = AvMixerDeviceOut->DeviceId();
    // A volume at 0 comes back at the remembered position, or half way when that is 0 too.
    if (id >= 0)
        UnmuteLine(static_cast<UINT>(id), false, RememberedOutPos > 0 ? RememberedOutPos : 50);
    UpdateMuted();
}

void TAudioOutForm::AvMixerDeviceOutControlChange(TObject*, TAvLineId, TAvControlId) {
    UpdateMuted();
}

void TAudioOutForm::UpdateMissing() {
    if (!LabelMissing) return; // the page is still being made
    QString missing;
    if (!AudioBackend().ServerRunning())
        missing = tr("声音服务器没有运行。启动后本页会自动更新。");
    else if (waveOutGetNumDevs() == 0)
        missing = tr("未找到扬声器或耳机。插好后本页会自动更新。");
    LabelMissing->SetCaption(missing);
    LabelMissing->SetVisible(!missing.isEmpty());
}

void TAudioOutForm::DoShow() {
    UpdateMissing();
    UpdateMuted();
    TAudioPageForm::DoShow();
}

void TAudioOutForm::AvMixerDeviceOutChange(TObject*) {
    // Devices came or went (the mixer hears of every change): the page says what is missing.
    UpdateMissing();
    UpdateMuted();
    // Another device in the list (the user's pick, the settings file, or the first device
    // standing in for one that went): a playing test sound moves there with the volume controls.
    if (!ButtonTest || ButtonTest->Tag() != 1 || FMovingTest) return;
    const TAvDeviceId id = AvMixerDeviceOut->DeviceId();
    if (id < 0 || id == AvWavePlayer1->DeviceID()) return;
    FMovingTest = true;
    const auto done = qScopeGuard([this] { FMovingTest = false; });
    GuardedCall(this, [this] {
        AvWavePlayer1->Stop();
        StartTestSound();
    });
    if (!(AvWavePlayer1->State() & wsStarted)) {
        ButtonTest->SetTag(0);
        ButtonTest->SetCaption(tr("播放声音"));
    }
}

void TAudioOutForm::StopTestSound() {
    EchoListener->Stop();
    // The last verdict stays; one still being made is no verdict.
    if (LabelHeard->Caption().endsWith(QStringLiteral("……"))) LabelHeard->SetVisible(false);
    AvWavePlayer1->Stop();
}
