#include "app/AudioVideoSet.h"

#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/Failures.h"
#include "app/Installation.h"
#include "app/VideoWizard.h"
#include "app/Wizard.h"
#include "framework/IniFiles.h"
#include "resources/AvResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <fcntl.h>
#include <unistd.h>

TAudioVideoForm* AudioVideoForm = nullptr;
std::int32_t RememberedInPos = 0;
std::int32_t RememberedOutPos = 0;

namespace {
TButton* MakeButton(TAudioVideoForm* form, const char* name, int left, const QString& caption,
                    int tabOrder) {
    auto* b = new TButton(form);
    b->SetName(QString::fromLatin1(name));
    b->SetParent(form);
    b->SetBounds(left, 341, 75, 25);
    b->SetCaption(caption);
    b->SetTabOrder(tabOrder);
    return b;
}

struct PageEntry {
    TForm* form;
    bool backEnabled;
    const char* nextCaption; // untranslated
};

PageEntry PageOf(std::uint8_t n) {
    switch (n) {
    case 0:
        return {WizardForm, false, QT_TRANSLATE_NOOP("TAudioVideoForm", "下一步(&N)")};
    case 1:
        return {AudioOutForm, true, QT_TRANSLATE_NOOP("TAudioVideoForm", "下一步(&N)")};
    case 2:
        return {AudioInForm, true, QT_TRANSLATE_NOOP("TAudioVideoForm", "下一步(&N)")};
    default:
        return {VideoForm, true, QT_TRANSLATE_NOOP("TAudioVideoForm", "完成(&N)")};
    }
}
} // namespace

QString SettingsFilePath(const QString& programFolder) {
    static const QString kFileName = QStringLiteral("AudioVideo.ini");
    // With the effective ids and capabilities, those the file operations will use.
    const QByteArray folder = QFile::encodeName(programFolder);
    if (!programFolder.isEmpty() && QFileInfo(programFolder).isDir() &&
        !av::IsInstalledProgramFolder(programFolder) &&
        faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0)
        return QDir(programFolder).filePath(kFileName);
    QString config = QFile::decodeName(qgetenv("XDG_CONFIG_HOME"));
    if (!QDir::isAbsolutePath(config)) config = QDir::home().filePath(QStringLiteral(".config"));
    return QDir(config).filePath(QStringLiteral("avsetup/") + kFileName);
}

TAudioVideoForm::TAudioVideoForm(TComponent* AOwner)
    : TForm(AOwner), FProgramFolder(QCoreApplication::applicationDirPath()) {
    BeginLoading();
    SetName(QStringLiteral("AudioVideoForm"));
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetCaption(tr("音频视频设置"));
    SetColor(clBtnFace);
    SetBounds(0, 0, 524, 375);

    Bevel1 = new TBevel(this);
    Bevel1->SetName(QStringLiteral("Bevel1"));
    Bevel1->SetParent(this);
    Bevel1->SetBounds(0, 333, 524, 2);
    Bevel1->SetAlign(alTop);
    Bevel1->SetShape(bsTopLine);

    Panel1 = new TPanel(this);
    Panel1->SetName(QStringLiteral("Panel1"));
    Panel1->SetParent(this);
    Panel1->SetBounds(0, 0, 524, 333);
    Panel1->SetAlign(alTop);
    Panel1->SetBevelOuter(bvNone);
    Panel1->SetCtl3D(false);

    Image2 = new TImage(this);
    Image2->SetName(QStringLiteral("Image2"));
    Image2->SetParent(Panel1);
    Image2->SetBounds(0, 0, 164, 333);
    Image2->SetAlign(alLeft);
    Image2->SetAutoSize(true);
    Image2->Picture()->LoadFromFile(av::ResourcePath(QStringLiteral("SidePicture.png")));

    FramePanel = new TPanel(this);
    FramePanel->SetName(QStringLiteral("FramePanel"));
    FramePanel->SetParent(Panel1);
    FramePanel->SetBounds(164, 0, 360, 333);
    FramePanel->SetAlign(alClient);
    FramePanel->SetBevelOuter(bvNone);
    FramePanel->SetColor(clWhite);

    BeforeButton = MakeButton(this, "BeforeButton", 224, tr("上一步(&B)"), 1);
    NextButton = MakeButton(this, "NextButton", 323, tr("下一步(&N)"), 2);
    CancelButton = MakeButton(this, "CancelButton", 423, tr("取消(&C)"), 3);
    CancelButton->SetCancel(true); // Escape closes the wizard as the button does

    // Failures reach the person in the wizard's own plain words.
    if (Application) Application->SetExplainHook(&ExplainFailure);

    OnShow.Assign(this, &TAudioVideoForm::FormShow);
    BeforeButton->OnClick.Assign(this, &TAudioVideoForm::BeforeButtonClick);
    NextButton->OnClick.Assign(this, &TAudioVideoForm::NextButtonClick);
    CancelButton->OnClick.Assign(this, &TAudioVideoForm::CancelButtonClick);
    EndLoading();
}

void TAudioVideoForm::FormShow(TObject*) {
    FCurrentPage = WizardForm;
    FCurrentPage->SetParent(FramePanel);
    FCurrentPage->Show();
    FCurrentPage->SetAlign(alClient);
    FPageIndex = 0;
    BeforeButton->SetEnabled(false);
    LoadSettings();
}

void TAudioVideoForm::ShowPage(std::uint8_t n) {
    if (n == FPageIndex) return;
    FPageIndex = n;
    if (FCurrentPage) FCurrentPage->Close(); // hides it; the microphone page stops recording
    if (AudioOutForm && AudioOutForm->ButtonTest->Tag() == 1)
        AudioOutForm->ButtonTestClick(AudioOutForm->ButtonTest); // stops the test sound
    const PageEntry page = PageOf(n);
    FCurrentPage = page.form;
    FCurrentPage->SetParent(FramePanel);
    FCurrentPage->SetAlign(alClient);
    FCurrentPage->Show();
    BeforeButton->SetEnabled(page.backEnabled);
    NextButton->SetCaption(tr(page.nextCaption));
}

void TAudioVideoForm::NextButtonClick(TObject*) {
    if (FPageIndex != 3) {
        ShowPage(static_cast<std::uint8_t>(FPageIndex + 1));
        return;
    }
    SaveSettings(); // a refused write raises: the window stays open
    Close();
}

void TAudioVideoForm::BeforeButtonClick(TObject*) {
    if (FPageIndex > 0) ShowPage(static_cast<std::uint8_t>(FPageIndex - 1));
}

void TAudioVideoForm::CancelButtonClick(TObject*) {
    // The page's own close first, as on a page change: a test or a recording stops cleanly.
    if (FCurrentPage) FCurrentPage->Close();
    Close();
}

void TAudioVideoForm::LoadSettings() {
    const TIniFile ini(SettingsFileName());
    // Setting a list's index moves its page's mixer too, so the volume controls and the test act
    // on the remembered device.
    if (AudioInForm)
        AudioInForm->AvDeviceComBoxIn->SetItemIndex(ini.ReadInteger("Audio", "DeviceIn", 0));
    RememberedInPos = ini.ReadInteger("Audio", "DeviceInPos", 50);
    if (AudioInForm)
        AudioInForm->CheckBoxAutoAdjust->SetChecked(ini.ReadBool("Audio", "AutoAdjust", true));
    if (AudioOutForm)
        AudioOutForm->AvDeviceComBoxOut->SetItemIndex(ini.ReadInteger("Audio", "DeviceOut", 0));
    RememberedOutPos = ini.ReadInteger("Audio", "DeviceOutPos", 50);
    if (VideoForm) VideoForm->ComboBoxVideoSou->SetItemIndex(ini.ReadInteger("Video", "Device", 0));
}

void TAudioVideoForm::SaveSettings() {
    const QString path = SettingsFileName();
    // The per-user folder may not exist yet; if it cannot be made, the first write says so.
    QDir().mkpath(QFileInfo(path).path());
    TIniFile ini(path);
    if (AudioInForm) {
        ini.WriteInteger("Audio", "DeviceIn", AudioInForm->AvDeviceComBoxIn->ItemIndex());
        ini.WriteInteger("Audio", "DeviceInPos", AudioInForm->AvMixerBlockSlider2->Position());
        ini.WriteBool("Audio", "AutoAdjust", AudioInForm->CheckBoxAutoAdjust->Checked());
    }
    if (AudioOutForm) {
        ini.WriteInteger("Audio", "DeviceOut", AudioOutForm->AvDeviceComBoxOut->ItemIndex());
        ini.WriteInteger("Audio", "DeviceOutPos", AudioOutForm->AvMixerBlockSlider6->Position());
    }
    if (VideoForm) ini.WriteInteger("Video", "Device", VideoForm->ComboBoxVideoSou->ItemIndex());
}
