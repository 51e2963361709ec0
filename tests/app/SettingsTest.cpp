// The settings file: what the wizard reads at start-up, what Finish writes, where the file lives
// and what happens when it cannot be written.
#include "NoPermissionOverride.h"
#include "WizardTestSupport.h"
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/Installation.h"
#include "app/VideoWizard.h"
#include "app/Wizard.h"
#include "framework/IniFiles.h"
#include "platform/api/AudioBackend.h"
#include "platform/sim/SimBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void WriteAll(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Three sound cards with mixers, so three entries in each audio device list.
SimConfig ThreeCards() {
    SimConfig cfg;
    cfg.cards = {SimConfig::StandardCard("Virtual Audio Device", true),
                 SimConfig::StandardCard("USB Headset", false),
                 SimConfig::StandardCard("Dock Audio", false)};
    return cfg;
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Homes.Make());
        Backend = std::make_unique<ScopedAudioBackend>(std::make_unique<SimBackend>(ThreeCards()));
    }
    void TearDown() override {
        Stop();
        Backend.reset();
    }
    // The program's start-up with the program folder moved to Homes.ProgramDir; the window is
    // shown, which loads the settings.
    void Start() {
        Stop();
        App = wizardtest::StartWizard(Homes.ProgramDir, Messages);
        W = AudioVideoForm;
        // Two cameras, unless the page found some itself.
        if (VideoForm->ComboBoxVideoSou->ItemCount() == 0)
            VideoForm->ComboBoxVideoSou->SetItems({"Camera A", "Camera B"});
        W->Show();
        QCoreApplication::processEvents();
    }
    void Stop() {
        wizardtest::EndWizard(App);
        W = nullptr;
    }
    void Next() { QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton); }
    void Finish() {
        while (W->PageIndex() != 3)
            Next();
        Next();
    }
    QString ProgramFile() const { return QDir(Homes.ProgramDir).filePath("AudioVideo.ini"); }
    QString UserFile() const { return QDir(Homes.ConfigHome).filePath("avsetup/AudioVideo.ini"); }
    // The three lists' selections and the two remembered positions.
    std::tuple<int, int, int, int, int> Loaded() const {
        return {AudioInForm->AvDeviceComBoxIn->ItemIndex(), RememberedInPos,
                AudioOutForm->AvDeviceComBoxOut->ItemIndex(), RememberedOutPos,
                VideoForm->ComboBoxVideoSou->ItemIndex()};
    }

    wizardtest::SettingsHomes Homes; // before the sound system's members: it goes after them
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    TAudioVideoForm* W = nullptr;
    QStringList Messages;
};

using Values = std::tuple<int, int, int, int, int>;

} // namespace

TEST_F(Settings, MissingOrUnusableContentGivesTheDefaults) {
    struct Case {
        const char* name;
        std::optional<QByteArray> file; // nullopt: no file at all
    };
    const Case cases[] = {
        {"no file", std::nullopt},
        {"empty", QByteArray()},
        {"other sections only", "[Colours]\nDeviceIn=2\n"},
        {"garbage", QByteArray("\x00\xff[Audio\n=\n\x80\x81\nDeviceIn\n", 22)},
        {"unconvertible",
         "[Audio]\nDeviceIn=one\nDeviceInPos=\nDeviceOut=2x\nDeviceOutPos=99999999999\n"
         "[Video]\nDevice=0x\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(ProgramFile());
        if (c.file) WriteAll(ProgramFile(), *c.file);
        Start();
        EXPECT_EQ(Loaded(), Values(0, 50, 0, 50, 0));
        EXPECT_EQ(QFile::exists(ProgramFile()), c.file.has_value()); // reading creates nothing
        EXPECT_FALSE(QFile::exists(UserFile()));
        EXPECT_TRUE(Messages.isEmpty());
    }
    // A folder where the file should be reads as no file.
    QFile::remove(ProgramFile());
    ASSERT_TRUE(QDir(Homes.ProgramDir).mkdir("AudioVideo.ini"));
    Start();
    EXPECT_EQ(Loaded(), Values(0, 50, 0, 50, 0));
}

TEST_F(Settings, ValuesGoIntoTheListsAndTheMixersFollowThem) {
    WriteAll(ProgramFile(), "[audio]\r\ndevicein = 2\r\nDeviceInPos=$20\r\nDeviceOut=7\r\n"
                            "DeviceOutPos=-3\r\n[Video]\r\nDevice=-1\r\n");
    Start();
    // 7 of three playback devices leaves the speaker list on the device its mixer is on, the
    // first; -1 leaves the camera list without a selection.
    EXPECT_EQ(Loaded(), Values(2, 32, 0, -3, -1));
    // The volume controls act on the device shown.
    EXPECT_EQ(AudioInForm->AvMixerDeviceIn->DeviceId(), 2);
    EXPECT_EQ(AudioOutForm->AvMixerDeviceOut->DeviceId(), 0);
    EXPECT_TRUE(Messages.isEmpty());
}

TEST_F(Settings, FinishWritesTheChoicesAndKeepsTheRestOfTheFile) {
    const QByteArray before = "; written by hand\r\n[Audio]\r\nDeviceOut=1\r\nStyle=log\r\n\r\n"
                              "[Colours]\r\nBack=$FF\r\n";
    WriteAll(ProgramFile(), before);
    Start();
    ASSERT_EQ(Loaded(), Values(0, 50, 1, 50, 0));
    AudioInForm->AvDeviceComBoxIn->SetItemIndex(2);
    VideoForm->ComboBoxVideoSou->Clear(); // no camera: nothing selected
    // The microphone page binds its slider to the microphone's volume when it first shows.
    while (W->PageIndex() != 2)
        Next();
    // The slider positions at the moment of Finish are written, not the remembered ones.
    AudioOutForm->AvMixerBlockSlider6->SetPosition(20);
    AudioInForm->AvMixerBlockSlider2->SetPosition(70);
    const int outPos = AudioOutForm->AvMixerBlockSlider6->Position();
    const int inPos = AudioInForm->AvMixerBlockSlider2->Position();
    ASSERT_NE(outPos, 50);
    ASSERT_NE(inPos, 50);
    Finish();
    EXPECT_TRUE(App->Terminated());
    EXPECT_TRUE(Messages.isEmpty());
    // Values replaced in place, new keys after the section's last entry, a new section at the
    // end, every other byte as it was.
    const QByteArray expected = "; written by hand\r\n[Audio]\r\nDeviceOut=1\r\nStyle=log\r\n"
                                "DeviceIn=2\r\nDeviceInPos=" +
                                QByteArray::number(inPos) + "\r\nAutoAdjust=1" +
                                "\r\nDeviceOutPos=" + QByteArray::number(outPos) +
                                "\r\n\r\n[Colours]\r\nBack=$FF\r\n[Video]\r\nDevice=-1\r\n";
    EXPECT_EQ(ReadAll(ProgramFile()), expected);
    EXPECT_FALSE(QFile::exists(UserFile()));

    Start(); // the next run finds what was written
    EXPECT_EQ(Loaded(), Values(2, inPos, 1, outPos, -1));
}

TEST_F(Settings, RefusedWriteShowsItsMessageAndTheWindowStaysOpen) {
    const TNoPermissionOverride asUser;
    const QByteArray before = "[Audio]\nDeviceOut=1\n";
    WriteAll(ProgramFile(), before);
    ASSERT_TRUE(QFile::setPermissions(ProgramFile(), QFile::ReadOwner));
    Start();
    AudioInForm->AvDeviceComBoxIn->SetItemIndex(1);
    Finish();
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].contains(ProgramFile())) << Messages[0].toStdString();
    EXPECT_FALSE(App->Terminated());
    EXPECT_TRUE(W->isVisible());
    EXPECT_EQ(W->CurrentPage(), VideoForm);
    EXPECT_EQ(ReadAll(ProgramFile()), before);
    EXPECT_FALSE(QFile::exists(UserFile()));

    // Once the file may be written, Finish again saves the choices still on the pages.
    ASSERT_TRUE(QFile::setPermissions(ProgramFile(), QFile::ReadOwner | QFile::WriteOwner));
    Next();
    EXPECT_TRUE(App->Terminated());
    EXPECT_EQ(TIniFile(ProgramFile()).ReadInteger("Audio", "DeviceIn", -5), 1);
    EXPECT_EQ(TIniFile(ProgramFile()).ReadInteger("Audio", "DeviceOut", -5), 1);
}

TEST_F(Settings, ReadOnlyProgramFolderUsesTheUsersConfigFolder) {
    const TNoPermissionOverride asUser;
    WriteAll(ProgramFile(), "[Audio]\nDeviceOut=2\n");
    WriteAll(UserFile(), "[Audio]\nDeviceOut=1\n[Other]\nKeep=yes\n");
    ASSERT_TRUE(QFile::setPermissions(Homes.ProgramDir, QFile::ReadOwner | QFile::ExeOwner));
    Start();
    EXPECT_EQ(W->SettingsFileName(), UserFile());
    EXPECT_EQ(Loaded(), Values(0, 50, 1, 50, 0));
    while (W->PageIndex() != 2) // the microphone slider shows the volume once its page showed
        Next();
    const QByteArray inPos = QByteArray::number(AudioInForm->AvMixerBlockSlider2->Position());
    const QByteArray outPos = QByteArray::number(AudioOutForm->AvMixerBlockSlider6->Position());
    Finish();
    EXPECT_TRUE(App->Terminated());
    EXPECT_EQ(ReadAll(UserFile()), "[Audio]\nDeviceOut=1\nDeviceIn=0\nDeviceInPos=" + inPos +
                                       "\nAutoAdjust=1\nDeviceOutPos=" + outPos +
                                       "\n[Other]\nKeep=yes\n[Video]\nDevice=0\n");
    EXPECT_EQ(ReadAll(ProgramFile()), "[Audio]\nDeviceOut=2\n");

    // The user's folder does not exist yet: Finish makes it.
    QDir(Homes.ConfigHome).removeRecursively();
    Start();
    Finish();
    EXPECT_TRUE(App->Terminated());
    EXPECT_EQ(TIniFile(UserFile()).ReadInteger("Video", "Device", -5), 0);

    // It cannot be made (a file stands where the folder would be): the message, the window stays.
    QDir(Homes.ConfigHome).removeRecursively();
    WriteAll(Homes.ConfigHome, "not a folder");
    Start();
    Finish();
    EXPECT_FALSE(App->Terminated());
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].contains("AudioVideo.ini")) << Messages[0].toStdString();
}

TEST_F(Settings, WhereTheFileLives) {
    EXPECT_EQ(SettingsFilePath(Homes.ProgramDir), ProgramFile());
    // A folder that is gone or is no folder: the user's config folder.
    EXPECT_EQ(SettingsFilePath(Homes.Temp.filePath("gone")), UserFile());
    WriteAll(Homes.Temp.filePath("file"), "x");
    EXPECT_EQ(SettingsFilePath(Homes.Temp.filePath("file")), UserFile());
    // An installed program never keeps the file beside itself, even where it may write (root in
    // /usr/bin, or a prefix of the user's own with the installed data folder beside the programs);
    // its test sound comes from that data folder unless one lies beside it.
    EXPECT_EQ(SettingsFilePath(QStringLiteral("/usr/bin")), UserFile());
    const QString data = Homes.Temp.filePath("share/avsetup");
    WriteAll(QDir(data).filePath("TestSnd.wav"), "RIFF");
    EXPECT_EQ(SettingsFilePath(Homes.ProgramDir), UserFile());
    EXPECT_EQ(av::ProgramDataFile(Homes.ProgramDir, "TestSnd.wav"),
              QDir(data).filePath("TestSnd.wav"));
    WriteAll(QDir(Homes.ProgramDir).filePath("TestSnd.wav"), "RIFF");
    EXPECT_EQ(av::ProgramDataFile(Homes.ProgramDir, "TestSnd.wav"),
              QDir(Homes.ProgramDir).filePath("TestSnd.wav"));
    // Without XDG_CONFIG_HOME, or with a relative one (which the convention says to ignore):
    // ~/.config.
    const QString home = QDir::home().filePath(".config/avsetup/AudioVideo.ini");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsFilePath(Homes.Temp.filePath("gone")), home);
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(SettingsFilePath(Homes.Temp.filePath("gone")), home);
}
