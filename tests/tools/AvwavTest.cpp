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

// Damaged and unusual files: what was read is printed, then a file that cannot be played exits 1
// with the reason; new header forms and derived fields are shown as read and repaired.
TEST(Avwav, InfoVerdictsOnDamagedFiles) {
    QTemporaryDir dir;
    const QByteArray fmt = FmtBody(1, 1, 8000, 8);
    QByteArray ext = FmtBody(0xFFFE, 2, 8000, 16, {}, {}, false) + LE16(22) + LE16(16) + LE32(3);
    const struct {
        const char* Name;
        QByteArray File;
        const char* Why;  // in the error; nullptr: plays (exit 0)
        const char* Line; // printed on stdout
    } cases[] = {
        {"nodata", Riff({{"fmt ", fmt}}), "no 'data' chunk", "format: PCM (tag 0x0001)"},
        {"overrun", Riff({{"fmt ", fmt}, {"junk", Ramp(6), 5000}, {"data", Ramp(10)}}),
         "chunk 'junk' claims 5000 bytes", "rate: 8000 Hz"},
        {"unknownsub",
         Riff({{"fmt ", ext + QByteArray::fromHex("0123456789abcdef0123456789abcdef")},
               {"data", Ramp(16)}}),
         "sub-format {67452301-AB89-EFCD-0123-456789ABCDEF}", "channels: 2"},
        {"shortext", Riff({{"fmt ", ext + Ramp(8)}, {"data", Ramp(16)}}),
         "too short for its EXTENSIBLE extension", "channels: 2"},
        {"secondfmt", Riff({{"fmt ", fmt}, {"fmt ", fmt}, {"data", Ramp(10)}}),
         "a second 'fmt ' chunk comes before any 'data' chunk", "bits: 8"},
        {"unknowntag",
         Riff({{"fmt ", FmtBody(0x1234, 2, 44100, 4, 2, 44100 * 2, true)}, {"data", Ramp(400)}}),
         "no PCM format for the device can be made of it", "format: Unknown (tag 0x1234)"},
        {"fmtcut", Riff({{"fmt ", fmt}, {"data", Ramp(10)}}).left(30),
         "file ends inside its 'fmt ' chunk (10 of 16 bytes)", nullptr},
        {"oldheader", Riff({{"fmt ", FmtBody(1, 2, 8000, 16).left(14)}, {"data", Ramp(400)}}),
         nullptr, "repair: no bits field: 16 bits per sample taken from the block align"},
        {"twelvebits", Riff({{"fmt ", FmtBody(1, 2, 8000, 12, 4)}, {"data", Ramp(400)}}), nullptr,
         "bits: 16 (12 valid)"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.Name) + ".wav");
        ASSERT_TRUE(WriteFile(path, c.File));
        const RunResult r = Avwav({QStringLiteral("info"), path});
        EXPECT_EQ(r.ExitCode, c.Why ? 1 : 0) << c.Name << "\n" << r.Err.toStdString();
        if (c.Why) {
            EXPECT_TRUE(r.Err.startsWith(QStringLiteral("avwav: ") + path) &&
                        r.Err.contains(QString::fromUtf8(c.Why)))
                << c.Name << ": " << r.Err.toStdString();
        } else {
            EXPECT_TRUE(r.Err.isEmpty()) << c.Name << ": " << r.Err.toStdString();
        }
        if (c.Line) {
            EXPECT_TRUE(r.Out.split(QLatin1Char('\n')).contains(QString::fromUtf8(c.Line)))
                << c.Name << ": " << r.Out.toStdString();
        }
    }

    // RF64: sizes from "ds64"; a compressed file without a byte rate gets one from its blocks.
    const QByteArray data = Ramp(400);
    const QByteArray fmtChunk = ChunkBytes({"fmt ", FmtBody(1, 2, 8000, 16)});
    const QByteArray ds64 = LE32(4 + 36 + fmtChunk.size() + 8 + 400) + LE32(0) + LE32(400) +
                            LE32(0) + LE32(100) + LE32(0) + LE32(0);
    const QString rf64 = dir.filePath("rf64.wav");
    ASSERT_TRUE(WriteFile(rf64, "RF64" + LE32(0xFFFFFFFF) + "WAVE" + ChunkBytes({"ds64", ds64}) +
                                    fmtChunk + "data" + LE32(0xFFFFFFFF) + data));
    RunResult r = Avwav({QStringLiteral("info"), rf64});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    for (const char* line : {"container: RF64 (sizes from its ds64 chunk)",
                             "data: 400 bytes, 100 samples", "length: 12 ms"})
        EXPECT_TRUE(r.Out.split(QLatin1Char('\n')).contains(QLatin1String(line)))
            << line << "\n"
            << r.Out.toStdString();
    QByteArray ima = FmtBody(0x11, 1, 22050, 4, 256, 0) + LE16(2) + LE16(505);
    QByteArray blocks;
    for (int b = 0; b < 6; ++b)
        blocks += LE16(0) + char(20) + char(0) + Ramp(252, b);
    const QString rate0 = dir.filePath("rate0.wav");
    ASSERT_TRUE(WriteFile(rate0, Riff({{"fmt ", ima}, {"data", blocks}})));
    r = Avwav({QStringLiteral("info"), rate0});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    for (const char* line : {"data: 1536 bytes, 3030 samples", "length: 137 ms",
                             "repair: bytes per second repaired from 0 to 11178 (from the block "
                             "size)"})
        EXPECT_TRUE(r.Out.split(QLatin1Char('\n')).contains(QLatin1String(line)))
            << line << "\n"
            << r.Out.toStdString();
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

// Compressed files play through the player's chain as the device's PCM: mu-law, IMA ADPCM and
// Microsoft ADPCM, each to its end (0.3 s or more of sound); a file with nothing to play is
// refused with the reason.
TEST(Avwav, PlayDecodesCompressedFiles) {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("AVSETUP_BACKEND"), QStringLiteral("sim"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QByteArray imaBlocks, msBlocks;
    for (int b = 0; b < 6; ++b) // 505 frames each: 0.34 s at 8 kHz
        imaBlocks += LE16(0) + char(20) + char(0) + Ramp(252, b);
    QByteArray msFmt = FmtBody(2, 1, 8000, 4, 256, 4096) + LE16(32) + LE16(500) + LE16(7);
    for (const auto& c :
         {std::pair{256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}})
        msFmt += LE16(std::uint16_t(c.first)) + LE16(std::uint16_t(c.second));
    for (int b = 0; b < 6; ++b) // 500 frames each
        msBlocks += char(b % 7) + LE16(16) + LE16(0) + LE16(0) + Ramp(249, b);
    const std::pair<const char*, QByteArray> files[] = {
        {"mulaw", Riff({{"fmt ", FmtBody(7, 1, 8000, 8, {}, {}, true)}, {"data", Ramp(2400)}})},
        {"ima", Riff({{"fmt ", FmtBody(0x11, 1, 8000, 4, 256, 4055) + LE16(2) + LE16(505)},
                      {"data", imaBlocks}})},
        {"msadpcm", Riff({{"fmt ", msFmt}, {"data", msBlocks}})},
    };
    for (const auto& [name, bytes] : files) {
        const QString path = dir.filePath(QString::fromLatin1(name) + ".wav");
        ASSERT_TRUE(WriteFile(path, bytes));
        QElapsedTimer t;
        t.start();
        const RunResult r = Avwav({QStringLiteral("play"), path}, env);
        EXPECT_EQ(r.ExitCode, 0) << name << ": " << r.Err.toStdString();
        EXPECT_GE(t.elapsed(), 250) << name;
    }
    const QString empty = dir.filePath("empty.wav");
    ASSERT_TRUE(WriteFile(empty, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}})));
    const RunResult r = Avwav({QStringLiteral("play"), empty}, env);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(r.Err.contains(QStringLiteral("no 'data' chunk"))) << r.Err.toStdString();
}

} // namespace
