#include "app/AudioOutWizardUnit.h"

#include "app/AudioVideoSet.h"
#include "app/Installation.h"
#include "platform/AudioBackend.h"
#include "platform/mmsystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>

TAudioOutForm* AudioOutForm = nullptr;

TAudioOutForm::TAudioOutForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("AudioOutForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 828, 464);
    SetColor(clBtnFace);

    CreateComponents();
    EndLoading();
    OnClick.Assign(this, &TAudioOutForm::FormClick);
    UpdateMissing();
}

void TAudioOutForm::CreateComponents() {
    // Non-visual first: the list and the lines refer to the mixer.
    CreateMixerComponents();
    CreateControls();
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
}

void TAudioOutForm::CreateMixerComponents() {
    AvMixerDeviceOut = new TAvMixerDevice(this);
    AvMixerDeviceOut->SetName(QStringLiteral("AvMixerDeviceOut"));
    // Open, so the mixer's change notices reach the sliders: a volume or mute changed by another
    // program shows here, and the next move acts from it.
    AvMixerDeviceOut->SetActive(true);
    AvMixerDeviceOut->OnChange.Assign(this, &TAudioOutForm::AvMixerDeviceOutChange);

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
    ButtonTest->SetTag(0);
    ButtonTest->SetCaption(tr("播放声音"));
}

void TAudioOutForm::StartTestSound() {
    // Item i of the list is mixer i and playback device i; nothing chosen: the mapper.
    AvWavePlayer1->SetDeviceID(AvDeviceComBoxOut->ItemIndex() >= 0 ? AvDeviceComBoxOut->ItemIndex()
                                                                   : -1);
    AvWavePlayer1->OpenFile(TestSoundFile);
    AvWavePlayer1->Play();
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
    TForm::DoShow();
}

void TAudioOutForm::AvMixerDeviceOutChange(TObject*) {
    // Devices came or went (the mixer hears of every change): the page says what is missing.
    UpdateMissing();
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
    AvWavePlayer1->Stop();
}
