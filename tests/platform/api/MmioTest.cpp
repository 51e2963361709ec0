// Multimedia file I/O: RIFF files written and read back through files and memory blocks with
// every buffering, chunk navigation at the edges of files and parents, and failures.
#include "platform/api/mmio.h"

#include "FileSizeLimit.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

QByteArray LE32(DWORD v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

// The bytes the writer below must produce: RIFF/WAVE, "fmt " (4 bytes), "data" with 3 bytes and a
// pad byte, LIST/INFO with one odd "INAM" value and its pad.
QByteArray ExpectedRiff() {
    QByteArray body = "WAVE";
    body += "fmt " + LE32(4) + QByteArray("\x01\x02\x03\x04", 4);
    body += "data" + LE32(3) + QByteArray("abc\0", 4);
    QByteArray info = "INFO" + QByteArray("INAM") + LE32(5) + QByteArray("Test\0\0", 6);
    body += "LIST" + LE32(info.size()) + info;
    return "RIFF" + LE32(body.size()) + body;
}

// Writes ExpectedRiff with chunk sizes left 0 for mmioAscend to fix up.
void WriteRiff(HMMIO h) {
    MMCKINFO riff{}, fmt{}, data{}, list{}, inam{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
    fmt.ckid = mmioFOURCC('f', 'm', 't', ' ');
    ASSERT_EQ(mmioCreateChunk(h, &fmt, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, "\x01\x02\x03\x04", 4), 4);
    ASSERT_EQ(mmioAscend(h, &fmt, 0), MMSYSERR_NOERROR);
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioCreateChunk(h, &data, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, "ab", 2), 2);
    ASSERT_EQ(mmioWrite(h, "c", 1), 1);
    ASSERT_EQ(mmioAscend(h, &data, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(data.cksize, 3u);
    list.fccType = mmioFOURCC('I', 'N', 'F', 'O');
    ASSERT_EQ(mmioCreateChunk(h, &list, MMIO_CREATELIST), MMSYSERR_NOERROR);
    inam.ckid = mmioFOURCC('I', 'N', 'A', 'M');
    ASSERT_EQ(mmioCreateChunk(h, &inam, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, "Test", 5), 5);
    ASSERT_EQ(mmioAscend(h, &inam, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &list, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
}

// Walks the file back: finds "LIST" past the odd "data" chunk, then "INAM" inside it.
void ReadRiff(HMMIO h) {
    ASSERT_EQ(mmioSeek(h, 0, SEEK_SET), 0);
    MMCKINFO riff{}, data{}, list{}, inam{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.cksize, DWORD(ExpectedRiff().size() - 8));
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 12);
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioDescend(h, &data, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    char buf[8] = {};
    EXPECT_EQ(mmioRead(h, buf, 8), 8); // reads on past the chunk: chunks do not limit reads
    EXPECT_EQ(std::string(buf, 3), "abc");
    ASSERT_EQ(mmioAscend(h, &data, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), LONG(data.dwDataOffset + 4)); // past the pad byte
    list.fccType = mmioFOURCC('I', 'N', 'F', 'O');
    ASSERT_EQ(mmioDescend(h, &list, &riff, MMIO_FINDLIST), MMSYSERR_NOERROR);
    inam.ckid = mmioFOURCC('I', 'N', 'A', 'M');
    ASSERT_EQ(mmioDescend(h, &inam, &list, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(inam.cksize, 5u);
    EXPECT_EQ(mmioRead(h, buf, 5), 5);
    EXPECT_STREQ(buf, "Test");
    ASSERT_EQ(mmioAscend(h, &inam, 0), MMSYSERR_NOERROR);
    // Nothing more inside the list, nor in the RIFF; the position stays where the search began.
    const LONG at = mmioSeek(h, 0, SEEK_CUR);
    MMCKINFO none{};
    EXPECT_EQ(mmioDescend(h, &none, &list, 0), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), at);
    none.ckid = mmioFOURCC('f', 'a', 'c', 't');
    ASSERT_EQ(mmioSeek(h, 12, SEEK_SET), 12);
    EXPECT_EQ(mmioDescend(h, &none, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
}

struct Buffering {
    bool allocBuf;
    LONG size; // 0: the default size
};

class MmioRoundTrip : public ::testing::TestWithParam<Buffering> {};

TEST_P(MmioRoundTrip, FileAndGrowingMemoryBlockHoldTheSameBytes) {
    const Buffering b = GetParam();
    const DWORD alloc = b.allocBuf ? MMIO_ALLOCBUF : 0;
    QTemporaryDir dir;
    const std::string path = dir.filePath("t.wav").toStdString();

    MMIOINFO info{};
    info.cchBuffer = b.size;
    HMMIO h = mmioOpen(path.c_str(), &info, MMIO_CREATE | MMIO_READWRITE | alloc);
    ASSERT_NE(h, nullptr) << info.wErrorRet;
    WriteRiff(h);
    ReadRiff(h); // before the buffer was flushed
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toHex(), ExpectedRiff().toHex());

    info = MMIOINFO{};
    info.cchBuffer = b.size;
    h = mmioOpen(path.c_str(), &info, MMIO_READ | alloc);
    ASSERT_NE(h, nullptr);
    ReadRiff(h);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1); // read-only
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    // A memory block the platform allocates and grows by 3 bytes at a time.
    MMIOINFO mem{};
    mem.fccIOProc = FOURCC_MEM;
    mem.adwInfo[0] = 3;
    h = mmioOpen(nullptr, &mem, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr) << mem.wErrorRet;
    WriteRiff(h);
    ReadRiff(h);
    EXPECT_EQ(mmioSeek(h, 0, SEEK_END), ExpectedRiff().size());
    ASSERT_EQ(mmioGetInfo(h, &mem, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(QByteArray(mem.pchBuffer, ExpectedRiff().size()).toHex(), ExpectedRiff().toHex());
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Buffers, MmioRoundTrip,
                         ::testing::Values(Buffering{false, 0}, Buffering{true, 5},
                                           Buffering{true, 16}, Buffering{true, 0}));

TEST(Mmio, CallerBlockHeadersCutShortAndStaleHandles) {
    // The caller's own block: read as a file of its size; a write past its end writes what fits.
    QByteArray block = ExpectedRiff();
    MMIOINFO mem{};
    mem.fccIOProc = FOURCC_MEM;
    mem.pchBuffer = block.data();
    mem.cchBuffer = LONG(block.size());
    HMMIO h = mmioOpen(nullptr, &mem, MMIO_READWRITE);
    ASSERT_NE(h, nullptr);
    ReadRiff(h);
    ASSERT_EQ(mmioSeek(h, -2, SEEK_END), block.size() - 2);
    EXPECT_EQ(mmioWrite(h, "XYZ", 3), 2);
    EXPECT_EQ(block.right(2), QByteArray("XY"));
    EXPECT_EQ(mmioSeek(h, 1, SEEK_END), -1);
    EXPECT_EQ(mmioSeek(h, -1, SEEK_SET), -1);
    EXPECT_EQ(mmioSetBuffer(h, nullptr, 100, 0), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);

    // A RIFF header with its form type cut off, and a chunk header of 5 bytes: not found, and
    // the position is where the search began.
    for (const QByteArray& cut : {QByteArray("RIFF\x10\0\0\0WA", 10), QByteArray("data\x01", 5)}) {
        QByteArray b = cut;
        MMIOINFO m{};
        m.fccIOProc = FOURCC_MEM;
        m.pchBuffer = b.data();
        m.cchBuffer = LONG(b.size());
        h = mmioOpen(nullptr, &m, MMIO_READ);
        ASSERT_NE(h, nullptr);
        MMCKINFO ck{};
        EXPECT_EQ(mmioDescend(h, &ck, nullptr, 0), MMIOERR_CHUNKNOTFOUND);
        EXPECT_EQ(mmioSeek(h, 0, SEEK_CUR), 0);
        EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
        // Handles are never reused: the closed one is refused everywhere.
        char c;
        EXPECT_EQ(mmioClose(h, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(mmioRead(h, &c, 1), -1);
        EXPECT_EQ(mmioSeek(h, 0, SEEK_SET), -1);
        EXPECT_EQ(mmioDescend(h, &ck, nullptr, 0), MMSYSERR_INVALHANDLE);
    }
    EXPECT_EQ(mmioStringToFOURCC("wave", MMIO_TOUPPER), mmioFOURCC('W', 'A', 'V', 'E'));
    EXPECT_EQ(mmioStringToFOURCC("fm", 0), mmioFOURCC('f', 'm', ' ', ' '));
}

TEST(Mmio, OpenExistDeleteAndTheirErrors) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("a.wav").toStdString();
    const std::string missing = dir.filePath("missing.wav").toStdString();
    MMIOINFO info{};
    EXPECT_EQ(mmioOpen(missing.c_str(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
    EXPECT_EQ(mmioOpen(missing.c_str(), &info, MMIO_EXIST), nullptr);
    EXPECT_EQ(mmioOpen(dir.path().toUtf8().constData(), &info, MMIO_READ), nullptr);
    EXPECT_EQ(info.wErrorRet, MMIOERR_ACCESSDENIED);
    EXPECT_EQ(mmioOpen(dir.path().toUtf8().constData(), &info, MMIO_EXIST), nullptr);

    HMMIO h = mmioOpen(path.c_str(), nullptr, MMIO_CREATE | MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "1234", 4), 4);
    char c;
    EXPECT_EQ(mmioRead(h, &c, 1), -1); // write-only
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioOpen(path.c_str(), nullptr, MMIO_EXIST), reinterpret_cast<HMMIO>(1));
    EXPECT_EQ(mmioOpen(path.c_str(), nullptr, MMIO_DELETE), reinterpret_cast<HMMIO>(1));
    EXPECT_EQ(mmioOpen(path.c_str(), &info, MMIO_EXIST), nullptr);
}

// A file that may not grow beyond a few kilobytes (as on a full disk): the write that crosses the
// limit fails, flushing and closing report it, and what reached the disk is readable.
TEST(Mmio, WritePastTheFileSizeLimitFailsAndKeepsWhatFits) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("full.bin").toStdString();
    auto limit = std::make_unique<TFileSizeLimit>(5000);
    ASSERT_TRUE(limit->Active());

    const QByteArray chunk(1000, 'w');
    MMIOINFO info{};
    info.cchBuffer = 4096;
    HMMIO h = mmioOpen(path.c_str(), &info, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    int failedAt = -1;
    for (int i = 0; i < 10 && failedAt < 0; ++i)
        if (mmioWrite(h, chunk.constData(), chunk.size()) != chunk.size()) failedAt = i;
    const MMRESULT flushed = mmioFlush(h, 0);
    const LONG end = mmioSeek(h, 0, SEEK_END);
    const MMRESULT closed = mmioClose(h, 0);
    limit.reset();

    // The 4096-byte buffer fills on the fifth write and its flush succeeds; the rest cannot go.
    EXPECT_GE(failedAt, 0);
    EXPECT_TRUE(failedAt >= 0 || flushed == MMIOERR_CANNOTWRITE || closed == MMIOERR_CANNOTWRITE);
    EXPECT_EQ(end, 5000);
    QFile file(QString::fromStdString(path));
    EXPECT_EQ(file.size(), 5000);
}

} // namespace
