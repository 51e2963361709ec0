#include "app/AudioInWizardUnit.h"

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
}

void TAudioInForm::CreateComponents() {
    // Non-visual first: the list and the lines refer to the mixer.
    CreateMixerComponents();
    CreateControls();
}

void TAudioInForm::CreateMixerComponents() {
    AvMixerDeviceIn = new TAvMixerDevice(this);
    AvMixerDeviceIn->SetName(QStringLiteral("AvMixerDeviceIn"));
    AvMixerDeviceIn->SetActive(true);

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
    Label1->SetCaption(QStringLiteral("选择您要使用的麦克风："));

    AvDeviceComBoxIn = new TAvDeviceComboBox(this);
    AvDeviceComBoxIn->SetName(QStringLiteral("AvDeviceComBoxIn"));
    AvDeviceComBoxIn->SetParent(this);
    AvDeviceComBoxIn->SetBounds(16, 58, 145, 21);
    AvDeviceComBoxIn->SetDevice(AvMixerDeviceIn);
    AvDeviceComBoxIn->SetItemIndex(0);
    AvDeviceComBoxIn->SetTabOrder(0);

    ButtonTest = new TButton(this);
    ButtonTest->SetName(QStringLiteral("ButtonTest"));
    ButtonTest->SetParent(this);
    ButtonTest->SetBounds(16, 97, 75, 25);
    ButtonTest->SetCaption(QStringLiteral("测试"));
    ButtonTest->SetTabOrder(2);
    ButtonTest->SetTag(0);
    ButtonTest->OnClick.Assign(this, &TAudioInForm::ButtonTestClick);

    Label2 = new TLabel(this);
    Label2->SetName(QStringLiteral("Label2"));
    Label2->SetParent(this);
    Label2->SetBounds(10, 136, 156, 39);
    Label2->SetWordWrap(true);
    Label2->SetCaption(
        QStringLiteral("当您对着麦克风说话时，指向黄色区域，则表示麦克风已经调节正常。"));

    Label3 = new TLabel(this);
    Label3->SetName(QStringLiteral("Label3"));
    Label3->SetParent(this);
    Label3->SetBounds(8, 232, 192, 26);
    Label3->SetWordWrap(true);
    Label3->SetCaption(
        QStringLiteral("如果有问题，请检查麦克风已经插好并打开，并且没有设为静音。"));
}

void TAudioInForm::FormCreate(TObject*) {}
void TAudioInForm::FormDestroy(TObject*) {}

void TAudioInForm::FormClose(TObject*, TCloseAction&) {
    ButtonTest->SetTag(0);
    ButtonTest->SetCaption(QStringLiteral("测试"));
    StopTest();
}

void TAudioInForm::ButtonTestClick(TObject*) {
    if (ButtonTest->Tag() == 0) {
        ButtonTest->SetTag(1);
        ButtonTest->SetCaption(QStringLiteral("停止"));
        StartTest();
    } else {
        ButtonTest->SetTag(0);
        ButtonTest->SetCaption(QStringLiteral("测试"));
        StopTest();
    }
}

void TAudioInForm::StartTest() {}
void TAudioInForm::StopTest() {}
