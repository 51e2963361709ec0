// The avwav program as a user runs it: what `info` prints for a damaged file, and its exit codes.
#include "audio/stream/WaveBuilder.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace wavetest;

namespace {

struct RunResult {
    int ExitCode = -1;
    QString Out, Err;
};

RunResult Avwav(const QStringList& args) {
    QProcess p;
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

} // namespace
