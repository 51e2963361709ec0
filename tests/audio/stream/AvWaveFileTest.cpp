// The wave file as a chain component: the source of a pull chain (silence until started or while
// disabled, loops as the sink asks, the events), and the recorder behind a source (a file that
// reads back, and a disk that fills up closes the file with valid sizes).
#include "WaveBuilder.h"
#include "audio/stream/AvWave.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace wavetest;

namespace {

// A buffer block as the sink passes it: header and data in one piece.
struct Buffer {
    explicit Buffer(int size) : Block(AvWaveHdrSize + size, '\0') {
        Hdr = AvInitWaveHdr(Block.data(), size);
    }
    // One pull as the sink makes it; returns MoreBuffers.
    bool Pull(TAvDSPComponent& from, int capacity) {
        Hdr->dwBufferLength = DWORD(capacity);
        Hdr->dwBytesRecorded = 0;
        Hdr->HasLooped = 0;
        bool more = false;
        from.BufferLoad(Hdr, more);
        return more;
    }
    QByteArray Data() const { return QByteArray(Hdr->lpData, int(Hdr->dwBytesRecorded)); }
    QByteArray Block;
    TAvWaveHdr* Hdr;
};

TEST(WaveFilePlay, SilenceUntilStartedLoopsAsAskedAndTellsItsEvents) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.wav");
    ASSERT_TRUE(WriteFile(path, Riff({{"fmt ", FmtBody(1, 1, 8000, 8)}, {"data", Ramp(1000, 1)}})));
    TAvWaveFile file(nullptr);
    int changes = 0, opens = 0, closes = 0, loops = 0;
    file.OnChanged = [&](TObject*) { ++changes; };
    file.OnOpen = [&](TObject*) { ++opens; };
    file.OnClose = [&](TObject*) { ++closes; };
    file.OnLooping = [&](TObject*) { ++loops; };
    file.Wave()->SetFileName(path);
    EXPECT_EQ(changes, 1);
    ASSERT_NE(file.PWaveFormat(), nullptr);
    EXPECT_EQ(file.PWaveFormat()->wBitsPerSample, 8);

    Buffer b(300);
    file.Opened();
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(b.Pull(file, 300)); // open, not started: 8-bit silence, and the sink goes on
    EXPECT_EQ(b.Data(), QByteArray(300, char(128)));
    file.Started();
    // LoopCount 2: the file plays three times; every wrap is marked on its buffer.
    b.Hdr->LoopEnabled = -1;
    b.Hdr->LoopCount = 2;
    b.Hdr->LoopsLeft = 2;
    QByteArray played;
    int wraps = 0, pulls = 0;
    for (bool more = true; more && pulls < 100; ++pulls) {
        more = b.Pull(file, 300);
        played += b.Data();
        wraps += b.Hdr->HasLooped == -1;
    }
    EXPECT_EQ(played, Ramp(1000, 1) + Ramp(1000, 1) + Ramp(1000, 1));
    EXPECT_EQ(wraps, 2);
    EXPECT_EQ(loops, 2);
    // Disabled: silence again, the sink keeps running.
    file.SetEnabled(false);
    EXPECT_TRUE(b.Pull(file, 64));
    EXPECT_EQ(b.Data(), QByteArray(64, char(128)));
    file.Closed();
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(file.Wave()->IsOpenForReading());
}

// The upstream end of a recording chain: hands out a format, pushes buffers.
class TSource : public TAvDSPComponent {
public:
    TSource() : TAvDSPComponent(nullptr) { SetProvidesOutput(true); }
};

class TFullDiskWaveFile : public TAvWaveFile {
public:
    using TAvWaveFile::TAvWaveFile;
    std::uint64_t Free = UINT64_MAX;

protected:
    std::uint64_t FreeDiskSpace() const override { return Free; }
};

TEST(WaveFileRecord, WritesWhatPassesAndClosesTheFileWhenTheDiskIsFull) {
    QTemporaryDir dir;
    const QString path = dir.filePath("r.wav");
    WAVEFORMATEX fmt{};
    BuildPcmFormat(&fmt, 16, 2, 8000);
    TSource source;
    source.SetPWaveFormat(&fmt);
    TFullDiskWaveFile file(nullptr);
    file.Wave()->SetFileMustExist(false);
    file.Wave()->SetFileName(path);
    file.SetInput(&source);
    ASSERT_EQ(source.Output(), &file);
    int closes = 0, passed = 0;
    file.OnClose = [&](TObject*) { ++closes; };
    file.OnBufferReady = [&](TObject*, TAvWaveHdr*) { ++passed; };
    file.Opened();
    file.Started();
    Buffer b(400);
    for (int i = 0; i < 3; ++i) {
        std::memcpy(b.Hdr->lpData, Ramp(400, i * 400).constData(), 400);
        b.Hdr->dwBytesRecorded = 400;
        if (i == 2) file.Free = 1000; // too little room for the next buffer
        file.BufferReady(b.Hdr);
    }
    EXPECT_EQ(passed, 3); // buffers go on downstream whatever the file does
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(file.FileOpen());
    file.Closed();
    EXPECT_EQ(closes, 1);
    TAvWave r;
    r.SetFileName(path);
    EXPECT_TRUE(r.Repairs().isEmpty()) << r.Repairs().join(" | ").toStdString();
    EXPECT_EQ(r.DataSize(), 800u);
    r.OpenFile();
    QByteArray all(800, '\0');
    EXPECT_EQ(r.Read(all.data(), 800), 800);
    EXPECT_EQ(all, Ramp(800));
}

} // namespace
