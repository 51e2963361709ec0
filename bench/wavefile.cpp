// Reading a large PCM WAVE file (64 MiB, 44.1 kHz 16-bit stereo, from the page cache): pulls
// through the wave file component (WaveFilePull) and reads through TAvWave (WaveRead), next to
// plain read() of the same file in pieces of the same size. Pieces of 2048 bytes are the wizard's
// buffer size.
#include "audio/stream/AvWave.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDataBytes = 64 << 20;

QByteArray LE32(quint32 v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

// The file, made once per run.
const QString& BenchFile() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("bench.wav"));
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly)) return p;
        QByteArray fmt = QByteArray::fromHex("0100020044ac000010b102000400100000");
        fmt.append('\0');
        f.write("RIFF" + LE32(4 + 26 + 8 + kDataBytes) + "WAVE" + "fmt " + LE32(18) + fmt + "data" +
                LE32(kDataBytes));
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(i * 7);
        for (int i = 0; i < kDataBytes / block.size(); ++i)
            f.write(block);
        return p;
    }();
    return path;
}

void PlainRead(benchmark::State& state) {
    const int piece = int(state.range(0));
    std::vector<char> buf(piece);
    const QByteArray path = QFile::encodeName(BenchFile());
    std::int64_t total = 0;
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY);
        ::lseek(fd, 46, SEEK_SET);
        for (ssize_t n; (n = ::read(fd, buf.data(), piece)) > 0;)
            total += n;
        ::close(fd);
    }
    state.SetBytesProcessed(total);
}

void WaveRead(benchmark::State& state) {
    const int piece = int(state.range(0));
    std::vector<char> buf(piece);
    TAvWave wave;
    wave.SetFileName(BenchFile());
    std::int64_t total = 0;
    for (auto _ : state) {
        wave.SetPosition(0);
        wave.OpenFile();
        for (LONG n; (n = wave.Read(buf.data(), piece)) > 0;)
            total += n;
        wave.CloseFile();
    }
    state.SetBytesProcessed(total);
}

// The pulls a wave output makes of its source, one buffer at a time.
void WaveFilePull(benchmark::State& state) {
    const int piece = int(state.range(0));
    TAvWaveFile file(nullptr);
    file.Wave()->SetFileName(BenchFile());
    std::vector<char> block(AvWaveHdrSize + piece);
    TAvWaveHdr* hdr = AvInitWaveHdr(block.data(), piece);
    std::int64_t total = 0;
    for (auto _ : state) {
        file.Wave()->SetPosition(0);
        file.Opened();
        file.Started();
        for (bool more = true; more;) {
            hdr->dwBufferLength = DWORD(piece);
            hdr->dwBytesRecorded = 0;
            more = false;
            file.BufferLoad(hdr, more);
            total += hdr->dwBytesRecorded;
        }
        file.Closed();
    }
    state.SetBytesProcessed(total);
}

} // namespace

BENCHMARK(PlainRead)->Arg(2048)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(WaveRead)->Arg(2048)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(WaveFilePull)->Arg(2048)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
