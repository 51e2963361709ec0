// `avwav decode` as a user runs it: the PCM bytes the player's chain makes of ADPCM, float and PCM
// files, 8 or 16 bits, and files it cannot play (message, exit 1, no output file).
#include "audio/stream/AvADCvt.h"
#include "audio/stream/WaveBuilder.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace wavetest;

namespace {

struct RunResult {
    int ExitCode = -1;
    QString Err;
};

RunResult Decode(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(AVWAV_PATH), QStringList{QStringLiteral("decode")} + args);
    RunResult r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Microsoft ADPCM, stereo, blocks of 256 bytes: any bytes are a valid stream once each block's
// predictor indexes are in range.
struct TMsFile {
    QByteArray Fmt, Data;
    explicit TMsFile(int blocks) {
        const int channels = 2, blockAlign = 256;
        const int samplesPerBlock = 2 + (blockAlign - 7 * channels) * 2 / channels;
        Fmt = FmtBody(2, 2, 22050, 4, blockAlign, 22050 * blockAlign / samplesPerBlock, false);
        Fmt += LE16(32) + LE16(std::uint16_t(samplesPerBlock)) + LE16(7);
        for (const auto& c : MsAdpcmCoefficients)
            Fmt += LE16(std::uint16_t(c[0])) + LE16(std::uint16_t(c[1]));
        std::mt19937 rng(5);
        Data.resize(blocks * blockAlign);
        for (int i = 0; i < Data.size(); ++i)
            Data[i] = char(rng());
        for (int b = 0; b < blocks; ++b) {
            Data[b * blockAlign] = char(b % 7);
            Data[b * blockAlign + 1] = char((b + 3) % 7);
            Data[b * blockAlign + 2] = 16; // a small starting delta
            Data[b * blockAlign + 3] = 0;
            Data[b * blockAlign + 4] = 16;
            Data[b * blockAlign + 5] = 0;
        }
    }
    QByteArray Decoded(TAvBits bits) const {
        TAvMsAdpcmLayout l;
        QByteArray fmt = Fmt;
        EXPECT_TRUE(ReadMsAdpcmLayout(reinterpret_cast<const WAVEFORMATEX*>(fmt.constData()), l));
        QByteArray out(Data.size() / 256 * l.SamplesPerBlock * 4, '\0');
        out.resize(DecodeMsAdpcm(l, reinterpret_cast<const std::uint8_t*>(Data.constData()),
                                 int(Data.size()), reinterpret_cast<std::uint8_t*>(out.data()),
                                 bits));
        return out;
    }
};

} // namespace

TEST(AvwavDecode, WritesWhatTheChainMakesOfAdpcmFloatAndPcm) {
    QTemporaryDir dir;
    const TMsFile ms(40);
    const QString msPath = dir.filePath("ms.wav");
    ASSERT_TRUE(WriteFile(msPath, Riff({{"fmt ", ms.Fmt}, {"fact", LE32(0)}, {"data", ms.Data}})));
    const QString raw = dir.filePath("out.raw");
    RunResult r = Decode({msPath, raw});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(raw), ms.Decoded(b16Bit));
    r = Decode({msPath, raw, QStringLiteral("--bits"), QStringLiteral("8")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(raw), ms.Decoded(b8Bit));

    // IEEE float under tag 3 goes to 16-bit PCM of the same rate and channels.
    std::vector<float> wave(3000);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] = 0.25f * float(std::sin(0.05 * double(i)));
    const QByteArray floats(reinterpret_cast<const char*>(wave.data()), int(wave.size() * 4));
    const QString fPath = dir.filePath("f.wav");
    ASSERT_TRUE(WriteFile(fPath, Riff({{"fmt ", FmtBody(3, 1, 16000, 32, {}, {}, true)},
                                       {"fact", LE32(3000)},
                                       {"data", floats}})));
    r = Decode({fPath, raw});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QByteArray pcm = ReadAll(raw);
    ASSERT_EQ(pcm.size(), int(wave.size() * 2));
    const auto* s = reinterpret_cast<const std::int16_t*>(pcm.constData());
    for (size_t i = 0; i < wave.size(); ++i)
        ASSERT_NEAR(s[i], wave[i] * 32768, 2) << i;

    // 8-bit PCM asked for as 16 bits.
    const QString pPath = dir.filePath("p.wav");
    ASSERT_TRUE(WriteFile(pPath, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}, {"data", Ramp(256)}})));
    r = Decode({pPath, raw, QStringLiteral("--bits"), QStringLiteral("16")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    const QByteArray wide = ReadAll(raw);
    ASSERT_EQ(wide.size(), 512);
    const auto* w = reinterpret_cast<const std::int16_t*>(wide.constData());
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(w[i], (i - 128) * 256) << i;
}

// The file's own channels come out, not a stereo mix: 6-channel 16-bit PCM as it is, 4-channel
// 24-bit PCM in 16 bits. Headers the reader repairs decode too: 12 bits in 16-bit containers,
// the oldest 14-byte header, and ADPCM without a byte rate (all of its blocks).
TEST(AvwavDecode, KeepsTheChannelsAndDecodesRepairedHeaders) {
    QTemporaryDir dir;
    const QString raw = dir.filePath("out.raw");
    std::vector<std::int16_t> six(6 * 500);
    for (size_t i = 0; i < six.size(); ++i)
        six[i] = std::int16_t((i % 6 + 1) * 1000 + int(i / 6) * 7);
    const QByteArray sixBytes(reinterpret_cast<const char*>(six.data()), int(six.size() * 2));
    const QString sixPath = dir.filePath("six.wav");
    ASSERT_TRUE(WriteFile(sixPath, Riff({{"fmt ", FmtBody(1, 6, 48000, 16)}, {"data", sixBytes}})));
    RunResult r = Decode({sixPath, raw});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(raw), sixBytes);

    QByteArray four; // 24-bit: low byte 0x55, then the 16-bit value
    std::vector<std::int16_t> expected;
    for (int i = 0; i < 4 * 300; ++i) {
        const auto v = std::int16_t((i % 4 - 2) * 5000 + i);
        four += char(0x55) + LE16(std::uint16_t(v));
        expected.push_back(v);
    }
    const QString fourPath = dir.filePath("four.wav");
    ASSERT_TRUE(WriteFile(fourPath, Riff({{"fmt ", FmtBody(1, 4, 44100, 24)}, {"data", four}})));
    r = Decode({fourPath, raw});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(raw),
              QByteArray(reinterpret_cast<const char*>(expected.data()), int(expected.size() * 2)));

    const QByteArray pcm = Ramp(800);
    const QString twelve = dir.filePath("twelve.wav");
    ASSERT_TRUE(WriteFile(twelve, Riff({{"fmt ", FmtBody(1, 2, 8000, 12, 4)}, {"data", pcm}})));
    const QString old = dir.filePath("old.wav");
    ASSERT_TRUE(WriteFile(old, Riff({{"fmt ", FmtBody(1, 2, 8000, 16).left(14)}, {"data", pcm}})));
    for (const QString& f : {twelve, old}) {
        r = Decode({f, raw});
        ASSERT_EQ(r.ExitCode, 0) << f.toStdString() << ": " << r.Err.toStdString();
        EXPECT_EQ(ReadAll(raw), pcm) << f.toStdString();
    }

    const TMsFile ms(40);
    QByteArray rate0 = ms.Fmt;
    rate0.replace(8, 4, LE32(0));
    const QString msPath = dir.filePath("ms0.wav");
    ASSERT_TRUE(WriteFile(msPath, Riff({{"fmt ", rate0}, {"data", ms.Data}})));
    r = Decode({msPath, raw});
    ASSERT_EQ(r.ExitCode, 0) << r.Err.toStdString();
    EXPECT_EQ(ReadAll(raw), ms.Decoded(b16Bit));
}

TEST(AvwavDecode, FilesTheChainCannotPlayLeaveNoOutput) {
    QTemporaryDir dir;
    const QString raw = dir.filePath("out.raw");
    const QString unknown = dir.filePath("unknown.wav");
    ASSERT_TRUE(WriteFile(unknown, Riff({{"fmt ", FmtBody(0x1234, 2, 44100, 4, 2, 44100 * 2, true)},
                                         {"data", Ramp(4000)}})));
    const QString noData = dir.filePath("nodata.wav");
    ASSERT_TRUE(WriteFile(noData, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}})));
    const QString emptyData = dir.filePath("empty.wav"); // less than one block of samples
    ASSERT_TRUE(WriteFile(emptyData, Riff({{"fmt ", FmtBody(1, 2, 8000, 16)}, {"data", Ramp(3)}})));
    const QString notWave = dir.filePath("movie.avi");
    ASSERT_TRUE(WriteFile(notWave, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}}, {}, "AVI ")));
    for (const QString& f : {unknown, noData, emptyData, notWave, dir.filePath("missing.wav")}) {
        const RunResult r = Decode({f, raw});
        EXPECT_EQ(r.ExitCode, 1) << f.toStdString();
        EXPECT_TRUE(r.Err.startsWith(QStringLiteral("avwav: ") + f)) << r.Err.toStdString();
        EXPECT_FALSE(QFile::exists(raw)) << f.toStdString();
    }
    EXPECT_EQ(Decode({unknown}).ExitCode, 2);
    EXPECT_EQ(Decode({unknown, raw, QStringLiteral("--bits"), QStringLiteral("12")}).ExitCode, 2);
    EXPECT_FALSE(QFile::exists(raw));
}
