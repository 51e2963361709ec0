// avsetup --check on the simulated devices, run as a script would run it: without any display,
// one JSON object with the camera's frames and size, and exit status 2 for wrong usage.
#include "app/DeviceCheck.h"
#include "DeviceCheckRun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

TRun RunCheck(const QStringList& args) {
    return RunCheckOn("sim", args);
}

} // namespace

TEST(DeviceCheckTest, RunsWithoutDisplayAndReportsTheSimulatedCameraAndMicrophone) {
    const TRun r =
        RunCheck({QStringLiteral("--json"), QStringLiteral("--seconds"), QStringLiteral("2"),
                  QStringLiteral("--camera"), QStringLiteral("Virtual Camera")});
    // The simulated microphone does not hear the simulated speaker: that needs attention.
    ASSERT_EQ(r.Status, 1) << r.Err.constData();
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(r.Out, &error);
    ASSERT_TRUE(doc.isObject()) << r.Out.constData();
    const QJsonObject camera = doc[QStringLiteral("camera")].toObject();
    EXPECT_EQ(camera[QStringLiteral("device")].toString(), QStringLiteral("Virtual Camera"));
    // 30 frames a second for two seconds, give or take a loaded machine.
    EXPECT_GT(camera[QStringLiteral("frames")].toInt(), 10);
    EXPECT_EQ(camera[QStringLiteral("width")].toInt(), 176);
    EXPECT_EQ(camera[QStringLiteral("height")].toInt(), 144);
    const QJsonObject speaker = doc[QStringLiteral("speaker")].toObject();
    EXPECT_TRUE(speaker[QStringLiteral("played")].toBool());
    EXPECT_FALSE(speaker[QStringLiteral("heard")].toBool());
    EXPECT_TRUE(speaker[QStringLiteral("latency_ms")].isNull());
    // The simulated microphone's tone: half of full scale.
    const QJsonObject microphone = doc[QStringLiteral("microphone")].toObject();
    EXPECT_TRUE(microphone[QStringLiteral("signal")].toBool());
    EXPECT_FALSE(microphone[QStringLiteral("muted")].toBool());
    EXPECT_LT(microphone[QStringLiteral("peak_dbfs")].toDouble(), -3);
    EXPECT_GT(microphone[QStringLiteral("peak_dbfs")].toDouble(), -30);
}

TEST(DeviceCheckTest, WrongUsageAndUnknownDevices) {
    EXPECT_EQ(RunCheck({QStringLiteral("--bogus")}).Status, 2);
    EXPECT_EQ(RunCheck({QStringLiteral("--seconds"), QStringLiteral("0")}).Status, 2);
    EXPECT_EQ(RunCheck({QStringLiteral("--speaker")}).Status, 2);
    // A camera that is not there needs attention, and the lines say which.
    const TRun r = RunCheck({QStringLiteral("--seconds=1"), QStringLiteral("--camera"),
                             QStringLiteral("No Such Camera")});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(QString::fromUtf8(r.Out).contains(QStringLiteral("No Such Camera")))
        << r.Out.constData();
}

TEST(DeviceCheckTest, FindDeviceTakesPositionsAndNames) {
    const QList<QStringList> names = {
        {QStringLiteral("Built-in Audio"), QStringLiteral("alsa_output.pci")},
        {QStringLiteral("USB Headset"), QStringLiteral("usb_sink")}};
    EXPECT_EQ(FindDevice(QStringLiteral("1"), names), 1);
    EXPECT_EQ(FindDevice(QStringLiteral("usb headset"), names), 1);
    EXPECT_EQ(FindDevice(QStringLiteral("alsa_output.pci"), names), 0);
    EXPECT_EQ(FindDevice(QStringLiteral("2"), names), -1);
    EXPECT_EQ(FindDevice(QStringLiteral("HDMI"), names), -1);
}
