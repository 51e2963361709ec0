// The WAVE reader and writer on generated files: damaged headers are repaired (and reported) the
// way a listener expects, positions and cut lists land on the right bytes, written files read
// back, and a write that fails part-way (a full disk) still leaves a valid WAVE of what fit.
#include "audio/stream/AvWave.h"
#include "FileSizeLimit.h"
#include "WaveBuilder.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace wavetest;

namespace {

// Everything the reader delivers from the current position to the end.
QByteArray ReadAll(TAvWave& w, int piece = 7) {
    QByteArray all;
    QByteArray buf(piece, '\0');
    for (LONG n; (n = w.Read(buf.data(), piece)) > 0;)
        all += buf.left(n);
    return all;
}

bool HasRepair(const TAvWave& w, const QString& text) {
    for (const QString& r : w.Repairs())
        if (r.contains(text)) return true;
    return false;
}

struct Damaged {
    const char* Name;
    QByteArray File;
    QByteArray Samples; // what playing must deliver
    WORD BlockAlign;
    DWORD BytesPerSec;
    std::vector<const char*> Repairs; // each must appear in the reader's notes
    std::vector<std::pair<const char*, QByteArray>> Tags;
};

void PrintTo(const Damaged& d, std::ostream* os) {
    *os << d.Name;
}

std::vector<Damaged> DamagedFiles() {
    const QByteArray fmt8 = FmtBody(WAVE_FORMAT_PCM, 1, 8000, 8);
    const QByteArray fmt16s = FmtBody(WAVE_FORMAT_PCM, 2, 22050, 16);
    std::vector<Damaged> v;
    { // "data" claims 1000 bytes, the file holds 501: whole blocks of 4 only.
        QByteArray f = Riff({{"fmt ", fmt16s}, {"data", Ramp(501), 1000, false}});
        v.push_back({"DataLongerThanFile",
                     f,
                     Ramp(500),
                     4,
                     88200,
                     {"data chunk cut from 1000 to 501 bytes", "data cut from 501 to 500 bytes"},
                     {}});
    }
    { // Wrong derived fields in a PCM header; the RIFF size is far too large as well.
        QByteArray f =
            Riff({{"fmt ", FmtBody(WAVE_FORMAT_PCM, 2, 22050, 16, 3, 1000)}, {"data", Ramp(40)}},
                 0x7FFFFFF0);
        v.push_back(
            {"WrongBlockAlignAndByteRate",
             f,
             Ramp(40),
             4,
             88200,
             {"block align repaired from 3 to 4", "bytes per second repaired from 1000 to 88200",
              "RIFF chunk cut from 2147483632"},
             {}});
    }
    { // A second "fmt " ends the walk; the first format holds.
        QByteArray f =
            Riff({{"fmt ", fmt8}, {"data", Ramp(10)}, {"fmt ", fmt16s}, {"data", Ramp(8, 99)}});
        v.push_back({"SecondFmt", f, Ramp(10), 1, 8000, {"second 'fmt '"}, {}});
    }
    { // A second "data" ends the walk and bounds the first.
        QByteArray f = Riff({{"fmt ", fmt8}, {"data", Ramp(8)}, {"data", Ramp(8, 50)}});
        v.push_back({"SecondData", f, Ramp(8), 1, 8000, {"second 'data'"}, {}});
    }
    { // Odd chunks with their pad bytes: an unknown one before "fmt ", odd 8-bit data followed by
        // an INFO list (the pad byte is no sample), and an odd tag value inside the list.
        QByteArray f = Riff({{"junk", "abc"},
                             {"fmt ", fmt8},
                             {"data", Ramp(7, 1)},
                             List("INFO", {{"INAM", "Odd"}, {"IART", "Me"}})});
        v.push_back({"OddChunksWithPadBytes",
                     f,
                     Ramp(7, 1),
                     1,
                     8000,
                     {},
                     {{"INAM", "Odd"}, {"IART", "Me"}}});
    }
    { // INFO lists before and after the data, and a list of another type that is skipped.
        QByteArray f = Riff({List("INFO", {{"ICMT", "before"}}),
                             {"fmt ", fmt8},
                             List("adtl", {{"labl", "xx"}}),
                             {"data", Ramp(12)},
                             List("INFO", {{"ISFT", "after"}, {"ICOP", "(c)"}})});
        v.push_back({"InfoBeforeAndAfterData",
                     f,
                     Ramp(12),
                     1,
                     8000,
                     {},
                     {{"ICMT", "before"}, {"ISFT", "after"}, {"ICOP", "(c)"}}});
    }
    { // A file cut inside the header of the chunk after the data.
        QByteArray f = Riff({{"fmt ", fmt8}, {"data", Ramp(9)}}) + "LIS";
        v.push_back({"CutInsideNextHeader", f, Ramp(9), 1, 8000, {}, {}});
    }
    { // A writer that died before fixing its sizes: RIFF and data 0, samples to the end.
        QByteArray f = Riff({{"fmt ", fmt16s}, {"data", Ramp(64), 0}}, 0);
        v.push_back({"UnfinishedSizesZero",
                     f,
                     Ramp(64),
                     4,
                     88200,
                     {"data chunk size 0 taken as the 64 bytes"},
                     {}});
    }
    { // An extended format whose cbSize claims more bytes than the chunk has.
        QByteArray body = FmtBody(0x0011, 1, 8000, 4, 256, 4055) + LE16(40) + LE16(505);
        QByteArray f = Riff({{"fmt ", body}, {"fact", LE32(1010)}, {"data", Ramp(512)}});
        v.push_back({"CbSizeBeyondChunk",
                     f,
                     Ramp(512),
                     256,
                     4055,
                     {"format extra size cut from 40 to 2 bytes"},
                     {}});
    }
    return v;
}

class WaveRepair : public ::testing::TestWithParam<Damaged> {};

TEST_P(WaveRepair, DeliversExactlyTheSamplesPresentAndSaysWhatItRepaired) {
    const Damaged& d = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath("d.wav");
    ASSERT_TRUE(WriteFile(path, d.File));
    TAvWave w;
    ASSERT_NO_THROW(w.SetFileName(path)) << w.LastError().toStdString();
    const WAVEFORMATEX* f = w.GetPWaveFormat();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->nBlockAlign, d.BlockAlign);
    EXPECT_EQ(f->nAvgBytesPerSec, d.BytesPerSec);
    EXPECT_EQ(w.DataSize(), DWORD(d.Samples.size()));
    EXPECT_EQ(w.FileSize(), DWORD(d.File.size()));
    for (const char* r : d.Repairs)
        EXPECT_TRUE(HasRepair(w, r)) << r << " not in: " << w.Repairs().join(" | ").toStdString();
    if (d.Repairs.empty()) {
        EXPECT_TRUE(w.Repairs().isEmpty()) << w.Repairs().join(" | ").toStdString();
    }
    for (const auto& [id, value] : d.Tags)
        EXPECT_EQ(w.InfoTag(AvInfoTagIndex(mmioStringToFOURCC(id, 0))), value) << id;
    w.OpenFile();
    EXPECT_EQ(ReadAll(w).toHex(), d.Samples.toHex());
    EXPECT_EQ(w.Read(nullptr, 0), -1); // nothing more to read, and no bytes that are not there
    w.CloseFile();
}

INSTANTIATE_TEST_SUITE_P(Files, WaveRepair, ::testing::ValuesIn(DamagedFiles()),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(WaveRefusal, FilesThatAreNoWaveAreRefusedAndTheWaveKeepsItsFile) {
    QTemporaryDir dir;
    const QString good = dir.filePath("good.wav");
    ASSERT_TRUE(WriteFile(good, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}, {"data", Ramp(10)}})));
    TAvWave w;
    w.SetFileName(good);
    const QByteArray fmt = FmtBody(1, 1, 8000, 8);
    const std::vector<std::pair<QByteArray, const char*>> bad = {
        {Riff({{"fmt ", fmt}, {"data", Ramp(4)}}, {}, "AVI "), "form type is 'AVI '"},
        {Riff({{"fmt ", fmt}, {"data", Ramp(4)}}, {}, "WAVE", "RIFX"), "not a RIFF file"},
        {Riff({{"data", Ramp(4)}}), "no 'fmt ' chunk"},
        {Riff({{"fmt ", fmt.left(10)}, {"data", Ramp(4)}}), "'fmt ' chunk is too short (10"},
        {Riff({{"fmt ", fmt}, {"data", Ramp(4)}}).left(30),
         "file ends inside its 'fmt ' chunk (10 of 16 bytes)"},
        {Riff({{"fmt ", FmtBody(1, 0, 8000, 8)}, {"data", Ramp(4)}}), "unusable format"},
        {QByteArray("RIFF\x04\0\0\0WA", 10), "not a RIFF file"},
        {QByteArray(), "not a RIFF file"},
    };
    int i = 0;
    for (const auto& [bytes, why] : bad) {
        const QString path = dir.filePath(QStringLiteral("bad%1.wav").arg(i++));
        ASSERT_TRUE(WriteFile(path, bytes));
        try {
            w.SetFileName(path);
            ADD_FAILURE() << why << ": accepted";
        } catch (const EAvWaveError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Invalid wave file...")) << why;
            EXPECT_TRUE(w.LastError().contains(why)) << w.LastError().toStdString();
        }
        EXPECT_EQ(w.FileName(), good);
        EXPECT_EQ(w.DataSize(), 10u);
    }
    // A missing file: "Error reading wave file" while it must exist, else an empty wave.
    EXPECT_THROW(w.SetFileName(dir.filePath("missing.wav")), EAvWaveError);
    EXPECT_EQ(w.FileName(), good);
    w.SetFileMustExist(false);
    w.SetFileName(dir.filePath("missing.wav"));
    EXPECT_TRUE(w.Empty());
    EXPECT_EQ(w.FileName(), dir.filePath("missing.wav"));
}

// Files the reader parses but that cannot play: each says why, after what it read.
TEST(WaveRefusal, UnplayableFilesSayWhy) {
    const QByteArray fmt = FmtBody(1, 1, 8000, 8);
    // EXTENSIBLE: 16-bit stereo PCM, and the same with a sub-format of no known family.
    QByteArray ext = FmtBody(0xFFFE, 2, 8000, 16, {}, {}, false) + LE16(22) + LE16(16) + LE32(3);
    const QByteArray pcmGuid =
        LE32(1) + LE16(0) + LE16(0x10) + QByteArray::fromHex("800000aa00389b71");
    const QByteArray oddGuid = QByteArray::fromHex("0123456789abcdef0123456789abcdef");
    const std::vector<std::pair<QByteArray, const char*>> cases = {
        {Riff({{"fmt ", fmt}}), "no 'data' chunk"},
        {Riff({{"fmt ", fmt}, {"junk", Ramp(6), 5000}, {"data", Ramp(10)}}),
         "chunk 'junk' claims 5000 bytes, more than the file holds, before any 'data' chunk"},
        {Riff({{"fmt ", fmt}, {"fmt ", fmt}, {"data", Ramp(10)}}),
         "a second 'fmt ' chunk comes before any 'data' chunk"},
        {Riff({{"fmt ", ext + oddGuid}, {"data", Ramp(16)}}),
         "EXTENSIBLE sub-format {67452301-AB89-EFCD-0123-456789ABCDEF} is not one"},
        {Riff({{"fmt ", ext + pcmGuid.left(8)}, {"data", Ramp(16)}}),
         "too short for its EXTENSIBLE extension (32 of 40 bytes)"},
        {Riff({{"fmt ", FmtBody(1, 1, 8000, 8) + LE16(0)}}).left(12 + 8 + 17),
         "file ends inside its 'fmt ' chunk (17 of 18 bytes)"},
    };
    for (const auto& [bytes, why] : cases) {
        TAvWave w;
        ASSERT_NO_THROW(w.LoadFromMemory(bytes)) << why << ": " << w.LastError().toStdString();
        EXPECT_NE(w.GetPWaveFormat(), nullptr) << why;
        EXPECT_TRUE(w.Refusal().contains(QString::fromUtf8(why)))
            << why << "\n got: " << w.Refusal().toStdString();
    }
    // The same EXTENSIBLE header with the PCM sub-format plays.
    TAvWave ok;
    ok.LoadFromMemory(Riff({{"fmt ", ext + pcmGuid}, {"data", Ramp(16)}}));
    EXPECT_TRUE(ok.Refusal().isEmpty()) << ok.Refusal().toStdString();
    EXPECT_EQ(ok.DataSamples(), 4);
}

// Header forms a careful reader meets: the oldest PCM header without a bits field, samples of
// fewer bits in wider containers, and RF64/BW64 whose sizes are in their "ds64" chunk.
TEST(WaveHeaders, OldNarrowAndWideForms) {
    // 14 bytes of "fmt ": 16-bit stereo by its block align.
    TAvWave old;
    old.LoadFromMemory(Riff({{"fmt ", FmtBody(1, 2, 11025, 16).left(14)}, {"data", Ramp(40)}}));
    ASSERT_NE(old.GetPWaveFormat(), nullptr);
    EXPECT_EQ(old.GetPWaveFormat()->wBitsPerSample, 16);
    EXPECT_EQ(old.GetPWaveFormat()->nBlockAlign, 4);
    EXPECT_EQ(old.DataSamples(), 10);
    EXPECT_TRUE(HasRepair(old, QStringLiteral("no bits field: 16 bits per sample")))
        << old.Repairs().join(" | ").toStdString();

    // 12 bits in 16-bit containers, 20 in 24: played as the container.
    for (const auto& [bits, container] : {std::pair{12, 16}, std::pair{20, 24}}) {
        TAvWave n;
        const WORD align = WORD(2 * container / 8);
        n.LoadFromMemory(
            Riff({{"fmt ", FmtBody(1, 2, 8000, WORD(bits), align)}, {"data", Ramp(align * 5)}}));
        ASSERT_NE(n.GetPWaveFormat(), nullptr);
        EXPECT_EQ(n.GetPWaveFormat()->wBitsPerSample, container);
        EXPECT_EQ(n.GetPWaveFormat()->nBlockAlign, align);
        EXPECT_EQ(n.IO()->wValidBits, bits);
        EXPECT_EQ(n.DataSamples(), 5);
        EXPECT_TRUE(n.Refusal().isEmpty());
    }

    // RF64 and BW64: the 32-bit sizes say 0xFFFFFFFF, "ds64" has the real ones; an INFO list
    // after the data is found and is no sample.
    for (const char* id : {"RF64", "BW64"}) {
        const QByteArray data = Ramp(300, 3);
        const QByteArray info = ChunkBytes(List("INFO", {{"INAM", "Wide"}}));
        const QByteArray fmt = ChunkBytes({"fmt ", FmtBody(1, 2, 8000, 16)});
        const quint64 riffSize = 4 + 36 + fmt.size() + 8 + data.size() + info.size();
        QByteArray ds64 = LE32(std::uint32_t(riffSize)) + LE32(0) + LE32(300) + LE32(0) + LE32(75) +
                          LE32(0) + LE32(0);
        const QByteArray file = QByteArray(id) + LE32(0xFFFFFFFF) + "WAVE" +
                                ChunkBytes({"ds64", ds64}) + fmt + "data" + LE32(0xFFFFFFFF) +
                                data + info;
        TAvWave w;
        ASSERT_NO_THROW(w.LoadFromMemory(file)) << w.LastError().toStdString();
        EXPECT_EQ(w.IO()->Container, mmioStringToFOURCC(id, 0));
        EXPECT_EQ(w.DataSize(), 300u);
        EXPECT_EQ(w.DataSamples(), 75);
        EXPECT_EQ(w.InfoTag(AvInfoTagIndex(mmioFOURCC('I', 'N', 'A', 'M'))), "Wide");
        EXPECT_TRUE(w.Repairs().isEmpty()) << w.Repairs().join(" | ").toStdString();
        w.OpenFile();
        EXPECT_EQ(ReadAll(w), data);
        w.CloseFile();
    }
}

// Block-compressed data counts its samples from the blocks, and the fact count, where it agrees
// with them, says how much of the last block is samples; positions land on blocks; a byte rate
// of 0 is derived from the block layout and reported.
TEST(WaveCount, BlockCompressedFilesCountFromTheirBlocks) {
    // Microsoft ADPCM, stereo, 48 kHz, 1024-byte blocks of 1012 frames; the header's byte rate
    // is far off, as some writers leave it.
    const int align = 1024, spb = 1012, blocks = 73;
    auto msFmt = [&](DWORD byteRate) {
        QByteArray f = FmtBody(2, 2, 48000, 4, align, byteRate) + LE16(32) + LE16(spb) + LE16(7);
        for (const auto& c : {std::pair{256, 0},
                              {512, -256},
                              {0, 0},
                              {192, 64},
                              {240, 0},
                              {460, -208},
                              {392, -232}})
            f += LE16(std::uint16_t(c.first)) + LE16(std::uint16_t(c.second));
        return f;
    };
    const QByteArray data = Ramp(blocks * align);
    const LONG fact = (blocks - 1) * spb + 500;
    TAvWave w;
    w.LoadFromMemory(Riff({{"fmt ", msFmt(5000)}, {"fact", LE32(fact)}, {"data", data}}));
    EXPECT_EQ(w.DataSamples(), fact);
    EXPECT_TRUE(w.Repairs().isEmpty()) << w.Repairs().join(" | ").toStdString();
    w.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(w.Length(), 1528); // 73364 samples at 48 kHz
    w.SetTimeFormat(tfByte);
    EXPECT_EQ(w.Length(), blocks * align);
    w.SetTimeFormat(tfSample);
    w.OpenFile();
    w.SetPosition(10 * spb);
    EXPECT_EQ(w.BytesLeft(), (blocks - 10) * align);
    EXPECT_EQ(ReadAll(w, 4096), data.mid(10 * align));
    EXPECT_EQ(w.Position(), fact);
    w.CloseFile();

    // A fact count outside the last block is replaced by the count of the blocks.
    TAvWave f;
    f.LoadFromMemory(Riff({{"fmt ", msFmt(5000)}, {"fact", LE32(3072)}, {"data", data}}));
    EXPECT_EQ(f.DataSamples(), blocks * spb);
    EXPECT_TRUE(HasRepair(f, QStringLiteral("fact sample count 3072 replaced by 73876")));

    // No byte rate: taken from the blocks, and said.
    TAvWave z;
    z.LoadFromMemory(Riff({{"fmt ", msFmt(0)}, {"data", data}}));
    EXPECT_EQ(z.DataSamples(), blocks * spb);
    EXPECT_EQ(z.GetPWaveFormat()->nAvgBytesPerSec, 48569u); // 1024 * 48000 / 1012
    EXPECT_TRUE(HasRepair(z, QStringLiteral("bytes per second repaired from 0 to 48569")));
    EXPECT_TRUE(z.Refusal().isEmpty());

    // IMA ADPCM, mono, 256-byte blocks: 505 frames each.
    TAvWave ima;
    ima.LoadFromMemory(Riff({{"fmt ", FmtBody(0x11, 1, 22050, 4, 256, 0) + LE16(2) + LE16(505)},
                             {"data", Ramp(256 * 3)}}));
    EXPECT_EQ(ima.DataSamples(), 3 * 505);
    EXPECT_EQ(ima.GetPWaveFormat()->nAvgBytesPerSec, 11178u); // 256 * 22050 / 505
}

TEST(WavePosition, TimeFormatsCutListsAndMemoryWaves) {
    // 16-bit stereo at 1000 Hz: 4 bytes a sample, 1 ms a sample.
    const QByteArray data = Ramp(400);
    TAvWave w;
    w.LoadFromMemory(Riff({{"fmt ", FmtBody(1, 2, 1000, 16)}, {"data", data}}));
    EXPECT_EQ(w.DataSamples(), 100);
    EXPECT_EQ(w.FormatString(), QStringLiteral("PCM"));
    EXPECT_EQ(w.Mode(), mStereo);
    EXPECT_EQ(w.BitLength(), b16Bit);
    EXPECT_THROW(w.Write("x", 1), EAvWaveError); // "Can't write to MemoryWave"
    w.OpenFile();
    w.SetTimeFormat(tfMillisecond);
    w.SetPosition(90);
    EXPECT_EQ(ReadAll(w), data.mid(360));
    EXPECT_EQ(w.Position(), 100);
    w.SetTimeFormat(tfByte);
    w.SetPosition(6); // inside sample 1
    EXPECT_EQ(w.Position(), 4);
    EXPECT_EQ(w.BytesLeft(), 396);
    // Samples 10..19 and 50..89 left out.
    TAvCutList cuts = {{50, 40}, {10, 10}};
    w.SetCutList(&cuts);
    w.SetTimeFormat(tfSample);
    EXPECT_EQ(w.Length(), 50);
    w.SetPosition(8);
    EXPECT_EQ(ReadAll(w, 13), data.mid(32, 8) + data.mid(80, 120) + data.mid(360, 40));
    w.SetPosition(w.Length());
    QByteArray buf(16, 'x');
    EXPECT_EQ(w.Read(buf.data(), 16), 0);
    EXPECT_EQ(buf, QByteArray(16, 'x'));
    w.SetCutList(nullptr);
    EXPECT_EQ(w.Length(), 100);
    w.CloseFile();

    QBuffer out;
    out.open(QIODevice::ReadWrite);
    int progress = 0;
    w.OnProgress = [&](TObject*, LONG cur, LONG total, bool&) { progress += cur == total; };
    w.SaveToStream(out);
    EXPECT_EQ(progress, 1);
    out.seek(0);
    TAvWave copy;
    copy.LoadFromStream(out);
    EXPECT_EQ(copy.DataSize(), 400u);
}

TEST(WaveWrite, WrittenFilesReadBackAndAppendKeepsTheirTags) {
    QTemporaryDir dir;
    const QString path = dir.filePath("rec.wav");
    WAVEFORMATEX fmt{};
    BuildPcmFormat(&fmt, 8, 1, 8000);
    TAvWave w;
    w.CreateFile(path, &fmt);
    EXPECT_EQ(w.Write(Ramp(301).constData(), 301), 301);
    w.SetInfoTag(AvInfoTagIndex(mmioFOURCC('I', 'N', 'A', 'M')), "Take 1");
    w.CloseFile();
    // The exact file: 8-bit odd data with its pad byte, "fact", then the INFO list.
    const QByteArray expected = Riff({{"fmt ", FmtBody(1, 1, 8000, 8, {}, {}, true)},
                                      {"data", Ramp(301)},
                                      {"fact", LE32(301)},
                                      List("INFO", {{"INAM", "Take 1"}})});
    EXPECT_EQ(ReadFile(path).toHex(), expected.toHex());

    TAvWave r;
    r.SetFileName(path);
    EXPECT_TRUE(r.Repairs().isEmpty()) << r.Repairs().join(" | ").toStdString();
    r.AppendFile();
    EXPECT_EQ(r.Write(Ramp(100, 45).constData(), 100), 100);
    r.CloseFile();
    TAvWave again;
    again.SetFileName(path);
    EXPECT_TRUE(again.Repairs().isEmpty()) << again.Repairs().join(" | ").toStdString();
    EXPECT_EQ(again.DataSize(), 401u);
    EXPECT_EQ(again.InfoTag(AvInfoTagIndex(mmioFOURCC('I', 'N', 'A', 'M'))), "Take 1");
    again.OpenFile();
    EXPECT_EQ(ReadAll(again), Ramp(401));
    again.CloseFile();

    // Appending is refused when a chunk the writer would lose follows the data.
    const QString other = dir.filePath("other.wav");
    ASSERT_TRUE(WriteFile(
        other, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}, {"data", Ramp(4)}, {"cue ", Ramp(8)}})));
    TAvWave o;
    o.SetFileName(other);
    EXPECT_THROW(o.AppendFile(), EAvWaveError);
    EXPECT_EQ(ReadFile(other).size(), 12 + 24 + 12 + 16);
}

// The file may not grow past a limit, as on a full disk. Whatever the limit, the file left behind
// is a WAVE whose sizes describe exactly the whole samples that reached the disk.
TEST(WaveWrite, AFullDiskLeavesAValidFileOfWhatFit) {
    QTemporaryDir dir;
    // 8-bit mono (an odd size needs a pad byte that may not fit) and 16-bit stereo; limits in
    // the header, inside the data, at an odd data size and just past the data.
    const struct {
        WORD Channels, Bits;
        rlim_t Limit;
    } cases[] = {
        {1, 8, 30}, {1, 8, 46 + 1001}, {1, 8, 46 + 5000}, {2, 16, 46 + 4099}, {2, 16, 46 + 10008}};
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("full%1_%2.wav").arg(c.Bits).arg(c.Limit));
        WAVEFORMATEX fmt{};
        BuildPcmFormat(&fmt, c.Bits, c.Channels, 8000);
        auto limit = std::make_unique<TFileSizeLimit>(c.Limit);
        ASSERT_TRUE(limit->Active());
        TAvWave w;
        bool created = true;
        try {
            w.CreateFile(path, &fmt);
        } catch (const EAvWaveError&) {
            created = false;
        }
        bool failed = false;
        const QByteArray samples = Ramp(10000);
        for (int at = 0; created && at < samples.size(); at += 999)
            if (w.Write(samples.constData() + at, std::min<int>(999, samples.size() - at)) < 0)
                failed = true;
        if (created) w.CloseFile();
        limit.reset();
        if (!created) {
            EXPECT_FALSE(QFile::exists(path)) << "a header that did not fit is not left behind";
            continue;
        }
        EXPECT_TRUE(failed || c.Limit >= 46 + 10000);
        const QByteArray file = ReadFile(path);
        TAvWave r;
        ASSERT_NO_THROW(r.SetFileName(path)) << c.Limit << ": " << r.LastError().toStdString();
        EXPECT_TRUE(r.Repairs().isEmpty())
            << c.Limit << ": " << r.Repairs().join(" | ").toStdString();
        EXPECT_LE(qint64(file.size()), qint64(c.Limit));
        EXPECT_EQ(r.DataSize() % fmt.nBlockAlign, 0u);
        EXPECT_GT(r.DataSize(), c.Limit > 1000 ? c.Limit - 1000 - 46 : 0);
        EXPECT_EQ(LE32(DWORD(file.size() - 8)), file.mid(4, 4)) << "RIFF size";
        r.OpenFile();
        EXPECT_EQ(ReadAll(r, 4096), samples.left(int(r.DataSize())));
        r.CloseFile();
    }
}

} // namespace
