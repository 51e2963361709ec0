// The speaker and microphone pages on a sound server of the test's own with two sound devices,
// each a sink and a source, so everything on the server is ours: the speaker test leaves no
// stream behind whatever the clicks, and the device a list shows (remembered in the settings file
// or picked during a test) is the one the test, the mixer and the slider use, and the one Finish
// saves with its real slider position.
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "framework/IniFiles.h"
#include "platform/pulse/PulseBackend.h"
#include "tests/app/WizardTestSupport.h"
#include "tests/platform/pulse/PulseAdmin.h"
#include "tests/platform/pulse/PulseTestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
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

// Silent devices: the microphone test's automatic lowering leaves their volumes alone. Without
// cards, sink and source pair up in their order of creation: device 0 is A, device 1 is B.
const char* const kDevices =
    "load-module module-null-sink sink_name=dev_a sink_properties=device.description=Dev_A\n"
    "load-module module-null-source source_name=dev_a_mic channels=2 description=Dev_A_Mic\n"
    "load-module module-null-sink sink_name=dev_b sink_properties=device.description=Dev_B\n"
    "load-module module-null-source source_name=dev_b_mic channels=2 description=Dev_B_Mic\n";

class AudioDevices : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no pulseaudio (run under tests/with-pulse.sh)";
        ASSERT_TRUE(Homes.Make());
        ASSERT_TRUE(Daemon.Start());
        Server.emplace(Daemon.Server()); // until every client of it is gone
        Admin = std::make_unique<PulseAdmin>();
        ASSERT_TRUE(Admin->Ready());
        pa_cvolume full;
        pa_cvolume_set(&full, 2, PA_VOLUME_NORM);
        for (const char* s : {"dev_a", "dev_b"})
            ASSERT_TRUE(Admin->SetSinkVolume(s, full));
        for (const char* s : {"dev_a_mic", "dev_b_mic"})
            ASSERT_TRUE(Admin->SetSourceVolume(s, full));
        Backend = std::make_unique<ScopedAudioBackend>(std::make_unique<PulseBackend>());
        ASSERT_EQ(waveOutGetNumDevs(), 2u);
        ASSERT_EQ(waveInGetNumDevs(), 2u);
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        Backend.reset();
        Admin.reset();
        Server.reset();
    }
    // The wizard as the program starts it; showing it reads the settings file.
    void Start() {
        App = wizardtest::StartWizard(Homes.ProgramDir, Messages);
        App->SetMessageBoxHook([this](const QString&, const QString& text, int) {
            Messages << text + " | " + App->MessageDetail();
            return IDOK;
        });
        W = AudioVideoForm;
        W->Show();
        QCoreApplication::processEvents();
    }
    QString ProgramFile() const { return QDir(Homes.ProgramDir).filePath("AudioVideo.ini"); }
    void Next() { QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton); }
    void ShowPage(int index) {
        while (W->PageIndex() < index)
            Next();
        ASSERT_EQ(W->PageIndex(), index);
    }
    void Click(TButton* b) { QTest::mouseClick(b->Widget(), Qt::LeftButton); }
    // Picks item i of a device list as a person does: the keyboard on the list.
    void Pick(TComboBox* list, int i) {
        QComboBox* combo = list->Widget();
        combo->setFocus();
        while (combo->currentIndex() < i)
            QTest::keyClick(combo, Qt::Key_Down);
        while (combo->currentIndex() > i)
            QTest::keyClick(combo, Qt::Key_Up);
        ASSERT_EQ(list->ItemIndex(), i);
    }
    // The sinks our playback streams are on, once the server's list settles there.
    bool StreamsSettleOn(const std::vector<std::string>& sinks) {
        std::vector<std::string> now;
        const bool ok = PumpUntil(
            [&] {
                now.clear();
                for (auto& [index, sink] : Admin->SinkInputs())
                    now.push_back(sink);
                return now == sinks;
            },
            5000);
        if (!ok) {
            std::string all;
            for (auto& s : now)
                all += s + " ";
            ADD_FAILURE() << "playback streams on the server: " << now.size() << " (" << all
                          << "), expected " << sinks.size();
        }
        return ok;
    }
    std::uint32_t SourceIndex(const char* name) {
        PulseAdmin::Device d;
        EXPECT_TRUE(Admin->FindSource(name, &d));
        return d.index;
    }
    pa_volume_t SinkVolume(const char* name) {
        PulseAdmin::Device d;
        EXPECT_TRUE(Admin->FindSink(name, &d));
        return d.volume.values[0];
    }
    pa_volume_t SourceVolume(const char* name) {
        PulseAdmin::Device d;
        EXPECT_TRUE(Admin->FindSource(name, &d));
        return d.volume.values[0];
    }

    wizardtest::SettingsHomes Homes; // before the sound system's members: it goes after them
    PrivateDaemon Daemon{kDevices};
    std::unique_ptr<PulseAdmin> Admin;
    std::optional<ScopedServer> Server;
    std::unique_ptr<ScopedAudioBackend> Backend;
    std::unique_ptr<TApplication> App;
    TAudioVideoForm* W = nullptr;
    QStringList Messages;
};

} // namespace

TEST_F(AudioDevices, TheSpeakerTestLeavesNoStreamBehind) {
    Start();
    ShowPage(1);
    TAudioOutForm* page = AudioOutForm;
    TButton* test = page->ButtonTest;
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        Click(test);
        ASSERT_TRUE(StreamsSettleOn({"dev_a"}));
        Click(test);
        ASSERT_TRUE(StreamsSettleOn({}));
    }
    // A double click: started and stopped at once, then three clicks.
    Click(test);
    Click(test);
    ASSERT_TRUE(StreamsSettleOn({}));
    Click(test);
    Click(test);
    Click(test);
    ASSERT_TRUE(StreamsSettleOn({"dev_a"}));
    // Another device chosen during the test: the sound moves there, nothing stays behind.
    Pick(page->AvDeviceComBoxOut, 1);
    EXPECT_EQ(page->ButtonTest->Caption(), QStringLiteral("停止"));
    ASSERT_TRUE(StreamsSettleOn({"dev_b"}));
    Pick(page->AvDeviceComBoxOut, 0);
    ASSERT_TRUE(StreamsSettleOn({"dev_a"}));
    // Next during the test ends it.
    Next();
    ASSERT_TRUE(StreamsSettleOn({}));
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(AudioDevices, RememberedDevicesAreTheOnesTestedAndTurned) {
    {
        TIniFile ini(ProgramFile());
        ini.WriteInteger("Audio", "DeviceOut", 1);
        ini.WriteInteger("Audio", "DeviceOutPos", 30);
        ini.WriteInteger("Audio", "DeviceIn", 1);
        ini.WriteInteger("Audio", "DeviceInPos", 40);
    }
    Start();
    ShowPage(1);
    EXPECT_EQ(AudioOutForm->AvDeviceComBoxOut->ItemIndex(), 1);
    EXPECT_EQ(AudioOutForm->AvMixerDeviceOut->DeviceId(), 1);
    Click(AudioOutForm->ButtonTest);
    ASSERT_TRUE(StreamsSettleOn({"dev_b"}));
    // The remembered position turns the second sink down; the first keeps its volume.
    EXPECT_TRUE(PumpUntil([&] { return SinkVolume("dev_b") < PA_VOLUME_NORM; }, 5000));
    EXPECT_EQ(SinkVolume("dev_a"), PA_VOLUME_NORM);

    ShowPage(2);
    TAudioInForm* mic = AudioInForm;
    EXPECT_EQ(mic->AvDeviceComBoxIn->ItemIndex(), 1);
    EXPECT_EQ(mic->AvMixerDeviceIn->DeviceId(), 1);
    Click(mic->ButtonTest);
    const std::vector<std::uint32_t> onB{SourceIndex("dev_b_mic")};
    EXPECT_TRUE(PumpUntil([&] { return Admin->SourceOutputSources() == onB; }, 5000));
    EXPECT_TRUE(PumpUntil([&] { return SourceVolume("dev_b_mic") < PA_VOLUME_NORM; }, 5000));
    EXPECT_EQ(SourceVolume("dev_a_mic"), PA_VOLUME_NORM);
    EXPECT_NEAR(mic->AvMixerBlockSlider2->Position(), 40, 1);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}

TEST_F(AudioDevices, AMicrophonePickedDuringTheTestIsRecordedTurnedAndSaved) {
    Start();
    ShowPage(2);
    TAudioInForm* mic = AudioInForm;
    TAvMixerBlockSlider* slider = mic->AvMixerBlockSlider2;
    Click(mic->ButtonTest);
    const std::vector<std::uint32_t> onA{SourceIndex("dev_a_mic")};
    const std::vector<std::uint32_t> onB{SourceIndex("dev_b_mic")};
    ASSERT_TRUE(PumpUntil([&] { return Admin->SourceOutputSources() == onA; }, 5000));
    // The remembered position (50 without a settings file) on the first microphone.
    ASSERT_TRUE(PumpUntil([&] { return SourceVolume("dev_a_mic") < PA_VOLUME_NORM; }, 5000));
    const pa_volume_t aVolume = SourceVolume("dev_a_mic");

    Pick(mic->AvDeviceComBoxIn, 1);
    EXPECT_EQ(mic->ButtonTest->Caption(), QStringLiteral("停止"));
    EXPECT_TRUE(PumpUntil([&] { return Admin->SourceOutputSources() == onB; }, 5000));
    // The slider shows the second microphone's own volume (full) and turns it, not the first.
    EXPECT_TRUE(PumpUntil([&] { return slider->Position() == slider->Max(); }, 5000))
        << "slider at " << slider->Position();
    slider->SetPosition(60);
    EXPECT_TRUE(PumpUntil([&] { return SourceVolume("dev_b_mic") < PA_VOLUME_NORM; }, 5000));
    EXPECT_EQ(SourceVolume("dev_a_mic"), aVolume);
    // Turned elsewhere (another program), the slider follows the second microphone only.
    pa_cvolume lower;
    pa_cvolume_set(&lower, 2, pa_sw_volume_from_linear(0.4)); // -8 dB: below position 60
    ASSERT_TRUE(Admin->SetSourceVolume("dev_a_mic", lower));
    ASSERT_TRUE(Admin->SetSourceVolume("dev_b_mic", lower));
    ASSERT_TRUE(PumpUntil([&] { return slider->Position() < 60; }, 5000));
    const int shown = slider->Position();

    // Finish saves the second microphone and the position the slider shows for it.
    ShowPage(3);
    EXPECT_TRUE(PumpUntil([&] { return Admin->SourceOutputSources().empty(); }, 5000));
    Next();
    const TIniFile ini(ProgramFile());
    EXPECT_EQ(ini.ReadInteger("Audio", "DeviceIn", -5), 1);
    EXPECT_EQ(ini.ReadInteger("Audio", "DeviceInPos", -5), shown);
    EXPECT_GT(shown, 13);
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join("; ").toStdString();
}
