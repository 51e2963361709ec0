// The avwav program as a user runs it: what `info` prints for a damaged file, and its exit codes.
#include "audio/stream/WaveBuilder.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace wavetest;

namespace {

struct RunResult {
    int ExitCode = -1;
    QString Out, Err;
};

RunResult Avwav(const QStringList& args,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(AVWAV_PATH), args);
    RunResult r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

TEST(Avwav, InfoShowsFormatLengthTagsAndRepairsAndRefusesWhatIsNoWave) {
    QTemporaryDir dir;
    const QString damaged = dir.filePath("damaged.wav");
    // 16-bit stereo at 22050 Hz; "data" claims 1000 bytes, 501 are there; a wrong block align.
    ASSERT_TRUE(WriteFile(damaged, Riff({{"fmt ", FmtBody(1, 2, 22050, 16, 2)},
                                         List("INFO", {{"INAM", "Tëst"}}),
                                         {"data", Ramp(501), 1000, false}})));
    RunResult r = Avwav({QStringLiteral("info"), damaged});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QStringList lines = r.Out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const char* expected :
         {"format: PCM (tag 0x0001)", "channels: 2", "rate: 22050 Hz", "bits: 16", "block align: 4",
          "bytes per second: 88200", "data: 500 bytes, 125 samples", "length: 5 ms",
          "tag INAM (Name): Tëst", "repair: block align repaired from 2 to 4",
          "repair: data chunk cut from 1000 to 501 bytes"})
        EXPECT_TRUE(lines.contains(QString::fromUtf8(expected))) << expected << "\n"
                                                                 << r.Out.toStdString();
    EXPECT_TRUE(r.Err.isEmpty());

    const QString avi = dir.filePath("movie.avi");
    ASSERT_TRUE(WriteFile(avi, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}}, {}, "AVI ")));
    r = Avwav({QStringLiteral("info"), avi});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Out.isEmpty());
    EXPECT_TRUE(r.Err.contains(QStringLiteral("Invalid wave file")) &&
                r.Err.contains(QStringLiteral("'AVI '")))
        << r.Err.toStdString();
    r = Avwav({QStringLiteral("info"), dir.filePath("missing.wav")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.contains(QStringLiteral("Error reading wave file"))) << r.Err.toStdString();
    EXPECT_EQ(Avwav({QStringLiteral("frobnicate")}).ExitCode, 2);
    EXPECT_EQ(Avwav({}).ExitCode, 2);
}

// Playing on the simulated sound system (in real time): a short file plays to its end, looped
// twice it takes three times as long, Ctrl+C stops it cleanly, and a device that is not there is
// refused.
TEST(Avwav, PlayRunsToTheEndLoopsAndStopsOnInterrupt) {
    QTemporaryDir dir;
    const QString file = dir.filePath("short.wav");
    // 0.3 s of 8-bit mono at 8000 Hz.
    ASSERT_TRUE(WriteFile(file, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}, {"data", Ramp(2400)}})));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("AVSETUP_BACKEND"), QStringLiteral("sim"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    QElapsedTimer once;
    once.start();
    RunResult r = Avwav({QStringLiteral("play"), file}, env);
    const qint64 onceMs = once.elapsed();
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_GE(onceMs, 250);
    QElapsedTimer looped;
    looped.start();
    r = Avwav({QStringLiteral("play"), file, QStringLiteral("--loop"), QStringLiteral("2")}, env);
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_GE(looped.elapsed(), 850);

    // Endless loop until SIGINT: the program ends by itself, cleanly, soon after.
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(AVWAV_PATH),
            {QStringLiteral("play"), file, QStringLiteral("--loop"), QStringLiteral("inf")});
    ASSERT_TRUE(p.waitForStarted());
    EXPECT_FALSE(p.waitForFinished(1500)) << "an endless loop ended by itself";
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();

    r = Avwav({QStringLiteral("play"), file, QStringLiteral("--device"), QStringLiteral("57")},
              env);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_FALSE(r.Err.isEmpty());
}

} // namespace
