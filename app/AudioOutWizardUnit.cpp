#include "app/AudioOutWizardUnit.h"

TAudioOutForm* AudioOutForm = nullptr;

TAudioOutForm::TAudioOutForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("AudioOutForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 828, 464);
    SetColor(clBtnFace);

    CreateComponents();
    EndLoading();
}

void TAudioOutForm::CreateComponents() {
    // Non-visual first: the list and the lines refer to the mixer.
    CreateMixerComponents();
    CreateControls();
}

void TAudioOutForm::CreateMixerComponents() {
    AvMixerDeviceOut = new TAvMixerDevice(this);
    AvMixerDeviceOut->SetName(QStringLiteral("AvMixerDeviceOut"));

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
    Label1->SetCaption(QStringLiteral("选择您要使用的扬声器或耳机："));

    AvDeviceComBoxOut = new TAvDeviceComboBox(this);
    AvDeviceComBoxOut->SetName(QStringLiteral("AvDeviceComBoxOut"));
    AvDeviceComBoxOut->SetParent(this);
    AvDeviceComBoxOut->SetBounds(24, 40, 145, 21);
    AvDeviceComBoxOut->SetDevice(AvMixerDeviceOut);
    AvDeviceComBoxOut->SetItemIndex(0);
    AvDeviceComBoxOut->SetTabOrder(2);

    ButtonTest = new TButton(this);
    ButtonTest->SetName(QStringLiteral("ButtonTest"));
    ButtonTest->SetParent(this);
    ButtonTest->SetBounds(24, 134, 75, 25);
    ButtonTest->SetCaption(QStringLiteral("播放声音"));
    ButtonTest->SetTabOrder(0);
    ButtonTest->SetTag(0);
    ButtonTest->OnClick.Assign(this, &TAudioOutForm::ButtonTestClick);

    Label2 = new TLabel(this);
    Label2->SetName(QStringLiteral("Label2"));
    Label2->SetParent(this);
    Label2->SetBounds(18, 202, 204, 26);
    Label2->Constraints().MaxWidth = 250;
    Label2->SetWordWrap(true);
    Label2->SetCaption(
        QStringLiteral("如果有问题，请检查扬声器或耳机已经插好并打开，并调节到适当的音量。"));
}

void TAudioOutForm::ButtonTestClick(TObject*) {
    if (ButtonTest->Tag() == 0) {
        StartTestSound(); // raises on failure: the button stays idle
        ButtonTest->SetTag(1);
        ButtonTest->SetCaption(QStringLiteral("停止"));
    } else {
        StopTestSound();
        ButtonTest->SetTag(0);
        ButtonTest->SetCaption(QStringLiteral("播放声音"));
    }
}

void TAudioOutForm::StartTestSound() {}
void TAudioOutForm::StopTestSound() {}
