// Faults a user meets, on a sound server of the test's own (the suites sharing the main test
// daemon are not disturbed): the server killed while the speaker test plays or the microphone test
// records, the chosen device unloaded mid-test, the settings file read-only and its folder gone.
// Every wait is on a condition with a deadline while the main thread keeps serving the pages; the
// pages must answer throughout (no hang), end the test cleanly (the button idle again, at most one
// message) and work again once the server or another device is there.
#include "NoPermissionOverride.h"
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/VideoWizard.h"
#include "app/Wizard.h"
#include "framework/IniFiles.h"
#include "framework/Threads.h"
#include "platform/pulse/PulseBackend.h"
#include "tests/app/WizardTestSupport.h"
#include "tests/platform/pulse/PulseAdmin.h"
#include "tests/platform/pulse/PulseTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace {

using pulsetest::PrivateDaemon;
using pulsetest::ScopedServer;
using wizardtest::PumpUntil;

const char* const kOtherSink = "fault_other";
const char* const kSource = "fault_mic";

class AudioFaults : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no pulseaudio (run under tests/with-pulse.sh)";
        ASSERT_TRUE(Homes.Make());
        ASSERT_TRUE(Daemon.Start());
        Server.emplace(Daemon.Server()); // until every client of it is gone
        // The other sink and the microphone are modules of their own, so a test can unload them.
        Admin = NewAdmin();
        ASSERT_TRUE(Admin->Ready());
        OtherModule = Admin->LoadModule(
            "module-null-sink", std::string("sink_name=") + kOtherSink +
                                    " sink_properties=device.description=Fault_Other_Speakers");
        ASSERT_NE(OtherModule, PA_INVALID_INDEX);
        MicModule = Admin->LoadModule("module-sine-source",
                                      std::string("source_name=") + kSource +
                                          " rate=44100 frequency=440"
                                          " source_properties=device.description=Fault_Microphone");
        ASSERT_NE(MicModule, PA_INVALID_INDEX);
        Backend = std::make_unique<ScopedAudioBackend>(std::make_unique<PulseBackend>());
        ASSERT_EQ(waveOutGetNumDevs(), 2u);
        ASSERT_EQ(waveInGetNumDevs(), 1u);

        App = wizardtest::StartWizard(Homes.ProgramDir, Messages);
        // The plain words, then the original text kept as the box's details.
        App->SetMessageBoxHook([this](const QString&, const QString& text, int) {
            Messages << text + " | " + App->MessageDetail();
            return IDOK;
        });
        W = AudioVideoForm;
        W->Show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Backend.reset();
        Admin.reset();
        Server.reset();
    }

    std::unique_ptr<PulseAdmin> NewAdmin() { return std::make_unique<PulseAdmin>(); }
    // The daemon killed outright, as a crash would; the admin client goes with it.
    void KillServer() {
        Admin.reset();
        Daemon.Stop(SIGKILL);
    }
    // The daemon back with its first sink only; the backend finds it by itself.
    void RestartServer() {
        ASSERT_TRUE(Daemon.Start());
        Admin = NewAdmin();
        ASSERT_TRUE(Admin->Ready());
        ASSERT_TRUE(PumpUntil([] { return waveOutGetNumDevs() == 1; }, 10000));
    }
    void ShowPage(int index) {
        while (W->PageIndex() < index)
            QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton);
        ASSERT_EQ(W->PageIndex(), index);
    }
    int SinkIndex(const std::string& name) {
        for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
            WAVEOUTCAPSA caps{};
            if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                std::string(caps.szPname) == name)
                return int(i);
        }
        ADD_FAILURE() << "no playback device " << name;
        return 0;
    }
    void Click(TButton* b) { QTest::mouseClick(b->Widget(), Qt::LeftButton); }
    TAudioOutForm* Speakers() const { return AudioOutForm; }
    TAudioInForm* Microphone() const { return AudioInForm; }
    // The speaker test plays: the button says so and the heard position moves on.
    ::testing::AssertionResult SpeakerTestPlays() {
        if (Speakers()->ButtonTest->Caption() != QStringLiteral("停止"))
            return ::testing::AssertionFailure() << "the button is idle";
        const std::int64_t from = Speakers()->AvWavePlayer1->GetPosition();
        if (!PumpUntil([&] { return Speakers()->AvWavePlayer1->GetPosition() > from + 8000; },
                       10000))
            return ::testing::AssertionFailure() << "the position stays at " << from;
        return ::testing::AssertionSuccess();
    }
    // The microphone test records: buffers keep coming to the meter.
    ::testing::AssertionResult MicrophoneTestRecords() {
        if (Microphone()->ButtonTest->Caption() != QStringLiteral("停止"))
            return ::testing::AssertionFailure() << "the button is idle";
        const int from = Recorded;
        if (!PumpUntil([&] { return Recorded >= from + 3; }, 10000))
            return ::testing::AssertionFailure() << "no buffer after " << from;
        return ::testing::AssertionSuccess();
    }
    // Every message from the first on says what happened in plain words and keeps the original
    // text (a failed platform call) as its detail.
    void ExpectSaid(const QString& plain, const QString& detail, qsizetype first = 0) {
        for (const QString& m : Messages.mid(first)) {
            EXPECT_TRUE(m.startsWith(plain)) << m.toStdString();
            EXPECT_TRUE(m.contains(" | " + detail)) << m.toStdString();
        }
    }
    void CountRecordedBuffers() {
        const TAvBufferEvent pageHandler = Microphone()->AvWaveIn->OnBufferReady;
        Microphone()->AvWaveIn->OnBufferReady = [this, pageHandler](TObject* s, TAvWaveHdr* h) {
            ++Recorded;
            pageHandler(s, h);
        };
    }
    // The test ended by itself or is still shown as running; either way the page answers.
    bool SpeakerTestEnded() {
        return PumpUntil(
            [&] {
                return Speakers()->ButtonTest->Caption() == QStringLiteral("播放声音") &&
                       !(Speakers()->AvWavePlayer1->State() & wsOpen);
            },
            10000);
    }
    bool MicrophoneTestEnded() {
        return PumpUntil(
            [&] {
                return Microphone()->ButtonTest->Caption() == QStringLiteral("测试") &&
                       !Microphone()->AvWaveIn->DeviceOpen();
            },
            10000);
    }

    wizardtest::SettingsHomes Homes; // before the sound system's members: it goes after them
    PrivateDaemon Daemon{"load-module module-null-sink sink_name=fault_sink "
                         "sink_properties=device.description=Fault_Speakers\n"};
    std::unique_ptr<PulseAdmin> Admin;
    std::uint32_t OtherModule = PA_INVALID_INDEX, MicModule = PA_INVALID_INDEX;
    std::optional<ScopedServer> Server;
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    TAudioVideoForm* W = nullptr;
    QStringList Messages;
    int Recorded = 0;
};

} // namespace

TEST_F(AudioFaults, ServerKilledWhileTheSpeakerTestPlaysThenBack) {
    ShowPage(1);
    Speakers()->AvDeviceComBoxOut->SetItemIndex(SinkIndex("Fault_Speakers"));
    Click(Speakers()->ButtonTest);
    ASSERT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
    ASSERT_TRUE(SpeakerTestPlays());

    KillServer();
    EXPECT_TRUE(SpeakerTestEnded()) << "button " << Speakers()->ButtonTest->Caption().toStdString();
    EXPECT_LE(Messages.size(), 1) << Messages.join("; ").toStdString();
    ExpectSaid("声音服务器已停止", "WaveOut");
    // The page says what is missing until the server is back.
    EXPECT_TRUE(PumpUntil([&] { return Speakers()->LabelMissing->Visible(); }, 5000));
    std::printf("[ outcome  ] speaker test, server killed: button '%s', messages: %s\n",
                qPrintable(Speakers()->ButtonTest->Caption()), qPrintable(Messages.join(" | ")));
    const qsizetype messages = Messages.size();

    RestartServer();
    ASSERT_TRUE(PumpUntil([&] { return Speakers()->AvDeviceComBoxOut->ItemCount() == 1; }, 5000));
    EXPECT_TRUE(PumpUntil([&] { return !Speakers()->LabelMissing->Visible(); }, 5000));
    Speakers()->AvDeviceComBoxOut->SetItemIndex(0);
    Click(Speakers()->ButtonTest);
    EXPECT_EQ(Messages.size(), messages) << Messages.join("; ").toStdString();
    EXPECT_TRUE(SpeakerTestPlays());
    Click(Speakers()->ButtonTest);
    EXPECT_TRUE(SpeakerTestEnded());
}

TEST_F(AudioFaults, ServerKilledWhileTheMicrophoneTestRecordsThenBack) {
    ShowPage(2);
    CountRecordedBuffers();
    Click(Microphone()->ButtonTest);
    ASSERT_TRUE(MicrophoneTestRecords());
    ASSERT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();

    KillServer();
    EXPECT_TRUE(MicrophoneTestEnded())
        << "button " << Microphone()->ButtonTest->Caption().toStdString();
    EXPECT_LE(Messages.size(), 1) << Messages.join("; ").toStdString();
    ExpectSaid("声音服务器已停止", "WaveIn");
    EXPECT_TRUE(PumpUntil([&] { return Microphone()->LabelMissing->Visible(); }, 5000));
    std::printf("[ outcome  ] microphone test, server killed: button '%s', messages: %s\n",
                qPrintable(Microphone()->ButtonTest->Caption()), qPrintable(Messages.join(" | ")));
    const qsizetype messages = Messages.size();

    // Back with the microphone: the page finds it and records again.
    ASSERT_TRUE(Daemon.Start());
    Admin = NewAdmin();
    ASSERT_NE(Admin->LoadModule("module-sine-source",
                                std::string("source_name=") + kSource +
                                    " source_properties=device.description=Fault_Microphone"),
              PA_INVALID_INDEX);
    ASSERT_TRUE(PumpUntil([] { return waveInGetNumDevs() == 1; }, 10000));
    ASSERT_TRUE(PumpUntil([&] { return Microphone()->AvDeviceComBoxIn->ItemCount() == 1; }, 5000));
    EXPECT_TRUE(PumpUntil([&] { return !Microphone()->LabelMissing->Visible(); }, 5000));
    Microphone()->AvDeviceComBoxIn->SetItemIndex(0);
    Click(Microphone()->ButtonTest);
    EXPECT_TRUE(MicrophoneTestRecords());
    EXPECT_EQ(Messages.size(), messages) << Messages.join("; ").toStdString();
    Click(Microphone()->ButtonTest);
    EXPECT_TRUE(MicrophoneTestEnded());
}

TEST_F(AudioFaults, ChosenDevicesUnloadedMidTest) {
    // The speakers: the other sink plays, then goes; the first sink still plays.
    ShowPage(1);
    Speakers()->AvDeviceComBoxOut->SetItemIndex(SinkIndex("Fault_Other_Speakers"));
    Click(Speakers()->ButtonTest);
    ASSERT_TRUE(SpeakerTestPlays());
    ASSERT_TRUE(Admin->UnloadModule(OtherModule));
    // Either the stream fails first (PulseAudio ends a stream whose sink goes): the test ends
    // with one message; or the list's change comes first (PipeWire's session manager may leave
    // the stream alone for a while): the list shows the device standing in for the one that
    // went and the sound moves there, as it does whenever the list's device changes mid-test.
    ASSERT_TRUE(PumpUntil([&] { return Speakers()->AvDeviceComBoxOut->ItemCount() == 1; }, 5000));
    PumpUntil([&] { return Speakers()->AvWavePlayer1->DeviceID() == 0 || !Messages.isEmpty(); },
              2000);
    const bool moved = Speakers()->AvWavePlayer1->DeviceID() == 0 && Messages.isEmpty() &&
                       Speakers()->ButtonTest->Caption() == QStringLiteral("停止");
    std::printf("[ outcome  ] speaker test, device unloaded: button '%s', messages: %s\n",
                qPrintable(Speakers()->ButtonTest->Caption()), qPrintable(Messages.join(" | ")));
    if (moved) {
        EXPECT_TRUE(SpeakerTestPlays());
    } else {
        EXPECT_TRUE(SpeakerTestEnded())
            << "button " << Speakers()->ButtonTest->Caption().toStdString();
        EXPECT_EQ(Messages.size(), 1) << Messages.join("; ").toStdString();
        ExpectSaid("扬声器或耳机已拔出", "WaveOut");
        Speakers()->AvDeviceComBoxOut->SetItemIndex(SinkIndex("Fault_Speakers"));
        Click(Speakers()->ButtonTest);
        EXPECT_TRUE(SpeakerTestPlays());
    }
    qsizetype messages = Messages.size();
    Click(Speakers()->ButtonTest);
    EXPECT_TRUE(SpeakerTestEnded());
    EXPECT_EQ(Messages.size(), messages) << Messages.join("; ").toStdString();

    // The microphone goes while recording; one comes back and the page records from it.
    ShowPage(2);
    CountRecordedBuffers();
    Click(Microphone()->ButtonTest);
    ASSERT_TRUE(MicrophoneTestRecords());
    messages = Messages.size();
    ASSERT_TRUE(Admin->UnloadModule(MicModule));
    EXPECT_TRUE(MicrophoneTestEnded())
        << "button " << Microphone()->ButtonTest->Caption().toStdString();
    // The recorder's message only: rebinding the microphone to the vanished device is quiet.
    EXPECT_LE(Messages.size(), messages + 1) << Messages.join("; ").toStdString();
    ExpectSaid("麦克风已拔出", "WaveIn", messages);
    // The only microphone went: the page says so until one is back.
    EXPECT_TRUE(PumpUntil([&] { return Microphone()->LabelMissing->Visible(); }, 5000));
    std::printf("[ outcome  ] microphone test, device unloaded: button '%s', messages: %s\n",
                qPrintable(Microphone()->ButtonTest->Caption()),
                qPrintable(Messages.mid(messages).join(" | ")));
    ASSERT_NE(Admin->LoadModule("module-sine-source",
                                std::string("source_name=") + kSource +
                                    " source_properties=device.description=Fault_Microphone"),
              PA_INVALID_INDEX);
    ASSERT_TRUE(PumpUntil([] { return waveInGetNumDevs() == 1; }, 10000));
    messages = Messages.size();
    Microphone()->AvDeviceComBoxIn->SetItemIndex(0);
    Click(Microphone()->ButtonTest);
    EXPECT_TRUE(MicrophoneTestRecords());
    EXPECT_EQ(Messages.size(), messages) << Messages.join("; ").toStdString();
}

TEST_F(AudioFaults, SettingsFileReadOnlyThenItsFolderGone) {
    const TNoPermissionOverride asUser;
    const QString programFile = QDir(Homes.ProgramDir).filePath("AudioVideo.ini");
    const QString userFile = QDir(Homes.ConfigHome).filePath("avsetup/AudioVideo.ini");
    {
        QFile f(programFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Audio]\nDeviceOut=0\n");
    }
    ASSERT_TRUE(QFile::setPermissions(programFile, QFile::ReadOwner));
    ShowPage(1);
    Speakers()->AvDeviceComBoxOut->SetItemIndex(SinkIndex("Fault_Other_Speakers"));
    ShowPage(3);
    QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton); // "完成"
    ASSERT_EQ(Messages.size(), 1);
    EXPECT_TRUE(Messages[0].contains(programFile)) << Messages[0].toStdString();
    EXPECT_FALSE(App->Terminated());
    std::printf("[ outcome  ] settings file read-only: %s\n", qPrintable(Messages[0]));

    // The program's folder is gone meanwhile: the choices go to the user's config folder.
    ASSERT_TRUE(QDir(Homes.ProgramDir).removeRecursively());
    QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton);
    EXPECT_EQ(Messages.size(), 1) << Messages.join("; ").toStdString();
    EXPECT_TRUE(App->Terminated());
    EXPECT_EQ(TIniFile(userFile).ReadInteger("Audio", "DeviceOut", -5),
              SinkIndex("Fault_Other_Speakers"));
}
