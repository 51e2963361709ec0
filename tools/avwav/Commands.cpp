#include "tools/avwav/Commands.h"

#include "audio/stream/AvACMCvt.h"
#include "audio/stream/AvADCvt.h"
#include "audio/stream/AvWave.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>
#include <QUtf8StringView>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace avwav {

namespace {

const TCommand kCommands[] = {
    {"info", "FILE",
     "format, sizes, length, INFO tags and the reader's repairs; fails when it cannot play", &Info},
    {"play", "FILE [--device N] [--loop K|inf]",
     "plays the file (K more times, or endlessly) until its end or Ctrl+C", &Play},
    {"decode", "FILE OUT.raw [--bits 8|16]",
     "the PCM bytes the player's chain makes of it (the file's channels and rate)", &Decode},
};

// INFO values carry no declared encoding: UTF-8 when they are valid UTF-8, else Latin-1.
QString TagText(const QByteArray& value) {
    if (QUtf8StringView(value).isValidUtf8()) return QString::fromUtf8(value);
    return QString::fromLatin1(value);
}

} // namespace

QStringList Arguments(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

const TCommand* FindCommand(const QString& name) {
    for (const TCommand& c : kCommands)
        if (name == QLatin1String(c.Name)) return &c;
    return nullptr;
}

QString Usage() {
    QString text = QStringLiteral("usage:\n");
    for (const TCommand& c : kCommands)
        text += QStringLiteral("  avwav %1 %2\n      %3\n")
                    .arg(QLatin1String(c.Name), QLatin1String(c.Usage), QLatin1String(c.Help));
    text += QStringLiteral("  avwav --help | --version\n");
    return text;
}

void Error(const QString& message) {
    std::fprintf(stderr, "avwav: %s\n", message.toUtf8().constData());
}

void Print(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
}

namespace {

// What the player's chain makes of a wave, without a device: wave file, ADPCM decoder, and a
// converter to PCM of the given width with the file's own channels and rate.
struct TDecodeChain {
    TAvWaveFile Source{nullptr};
    TAvADPCMConverter Adpcm{nullptr};
    TAvACMConverter Pcm{nullptr};

    TDecodeChain() {
        Adpcm.SetInput(&Source);
        Pcm.SetInput(&Adpcm);
    }
    // Sets the target after the file is read; false when no PCM can be made of it.
    bool Target(TAvBits width) {
        const WAVEFORMATEX* f = Source.Wave()->GetPWaveFormat();
        if (!f) return false;
        Adpcm.SetBitLength(width);
        Adpcm.SetEnabled(Adpcm.CanConvert());
        WAVEFORMATEX dest{};
        BuildPcmFormat(&dest, width == b8Bit ? 8 : 16, f->nChannels, f->nSamplesPerSec);
        Pcm.SetPWaveFormat(&dest);
        const WAVEFORMATEX* out = Pcm.PWaveFormat();
        return out && out->wFormatTag == WAVE_FORMAT_PCM && out->nChannels == dest.nChannels &&
               out->wBitsPerSample == dest.wBitsPerSample &&
               out->nSamplesPerSec == dest.nSamplesPerSec;
    }
    // Pulls the chain as a wave output would, handing every byte it delivers to sink. Raises
    // what the chain raises. Returns the bytes delivered.
    template <typename Sink> qint64 Run(Sink&& sink) {
        TAvDSPComponent* chain[] = {&Source, &Adpcm, &Pcm};
        for (TAvDSPComponent* c : chain)
            c->Opened();
        for (TAvDSPComponent* c : chain)
            c->Started();
        const int size = 16384;
        std::vector<char> block(AvWaveHdrSize + size);
        TAvWaveHdr* h = AvInitWaveHdr(block.data(), size);
        qint64 total = 0;
        for (bool more = true; more;) {
            h->dwBufferLength = static_cast<DWORD>(size);
            h->dwBytesRecorded = 0;
            more = false;
            Pcm.BufferLoad(h, more);
            const qint64 n = std::min<DWORD>(h->dwBytesRecorded, static_cast<DWORD>(size));
            if (n == 0) break;
            sink(h->lpData, n);
            total += n;
        }
        for (TAvDSPComponent* c : chain)
            c->Stopped();
        for (TAvDSPComponent* c : chain)
            c->Closed();
        return total;
    }
};

const QString kNoPcm = QStringLiteral("no PCM format for the device can be made of it");
const QString kEmptyData = QStringLiteral("the data chunk holds no whole block of samples");

} // namespace

int Info(int argc, char** argv, const QStringList& args) {
    if (args.size() != 1) {
        std::fputs(Usage().toUtf8().constData(), stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    TDecodeChain chain;
    TAvWave& wave = *chain.Source.Wave();
    try {
        wave.SetFileName(args.first());
    } catch (const Exception& e) {
        QString message = QStringLiteral("%1: %2").arg(args.first(), e.Message());
        if (!wave.LastError().isEmpty()) message += QStringLiteral(" (%1)").arg(wave.LastError());
        Error(message);
        return 1;
    }
    const WAVEFORMATEX* f = wave.GetPWaveFormat();
    const TAvWaveIO* io = wave.IO();
    const qint64 samples = wave.DataSamples();
    Print(QStringLiteral("file: %1").arg(wave.FileName()));
    if (io->Container != mmioFOURCC('R', 'I', 'F', 'F'))
        Print(QStringLiteral("container: %1 (sizes from its ds64 chunk)")
                  .arg(QString::fromLatin1(reinterpret_cast<const char*>(&io->Container), 4)));
    Print(QStringLiteral("format: %1 (tag 0x%2)")
              .arg(wave.FormatString())
              .arg(f->wFormatTag, 4, 16, QLatin1Char('0')));
    Print(QStringLiteral("channels: %1").arg(f->nChannels));
    Print(QStringLiteral("rate: %1 Hz").arg(f->nSamplesPerSec));
    if (io->wValidBits)
        Print(QStringLiteral("bits: %1 (%2 valid)").arg(f->wBitsPerSample).arg(io->wValidBits));
    else
        Print(QStringLiteral("bits: %1").arg(f->wBitsPerSample));
    Print(QStringLiteral("block align: %1").arg(f->nBlockAlign));
    Print(QStringLiteral("bytes per second: %1").arg(f->nAvgBytesPerSec));
    Print(QStringLiteral("data: %1 bytes, %2 samples").arg(wave.DataSize()).arg(samples));
    Print(QStringLiteral("length: %1 ms").arg(samples * 1000 / f->nSamplesPerSec));
    for (int i = 0; i < AvInfoTagCount; ++i) {
        const QByteArray value = wave.InfoTag(i);
        if (!value.isEmpty())
            Print(QStringLiteral("tag %1 (%2): %3")
                      .arg(QLatin1String(AvInfoTags[i].Id), QLatin1String(AvInfoTags[i].Name),
                           TagText(value)));
    }
    for (const QString& r : wave.Repairs())
        Print(QStringLiteral("repair: %1").arg(r));
    // The verdict: what was read is shown; a wave that cannot play says why and fails.
    QString refusal = wave.Refusal();
    if (refusal.isEmpty() && wave.DataSize() == 0)
        refusal = QStringLiteral("the data chunk is empty");
    if (refusal.isEmpty()) {
        try {
            if (!chain.Target(b16Bit)) refusal = kNoPcm;
        } catch (const Exception& e) {
            refusal = e.Message();
        }
    }
    if (!refusal.isEmpty()) {
        Error(QStringLiteral("%1: cannot be played: %2").arg(args.first(), refusal));
        return 1;
    }
    return 0;
}

int Decode(int argc, char** argv, const QStringList& args) {
    int bits = 16;
    bool ok = true;
    QStringList names;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] != QLatin1String("--bits")) {
            names << args[i];
            continue;
        }
        bits = i + 1 < args.size() ? args[++i].toInt() : 0;
        ok = ok && (bits == 8 || bits == 16);
    }
    if (!ok || names.size() != 2) {
        std::fputs(Usage().toUtf8().constData(), stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    TDecodeChain chain;
    TAvWave& wave = *chain.Source.Wave();
    // Written to a temporary file that only becomes OUT when everything went well.
    QSaveFile out(names[1]);
    try {
        wave.SetFileName(names[0]);
        if (!wave.Refusal().isEmpty()) throw EAvWaveError(wave.Refusal());
        if (wave.DataSize() == 0) throw EAvWaveError(kEmptyData);
        if (!chain.Target(bits == 8 ? b8Bit : b16Bit)) throw Exception(kNoPcm);
        if (!out.open(QIODevice::WriteOnly))
            throw Exception(QStringLiteral("%1: %2").arg(names[1], out.errorString()));
        const qint64 total = chain.Run([&](const char* data, qint64 n) {
            if (out.write(data, n) != n)
                throw Exception(QStringLiteral("%1: %2").arg(names[1], out.errorString()));
        });
        // Data that yields nothing is a failure, not an empty success.
        if (total == 0 && wave.DataSize() > 0)
            throw Exception(
                QStringLiteral("none of its %1 data bytes could be decoded").arg(wave.DataSize()));
        if (!out.commit())
            throw Exception(QStringLiteral("%1: %2").arg(names[1], out.errorString()));
    } catch (const Exception& e) {
        out.cancelWriting();
        QString message = QStringLiteral("%1: %2").arg(names[0], e.Message());
        if (!wave.LastError().isEmpty()) message += QStringLiteral(" (%1)").arg(wave.LastError());
        Error(message);
        return 1;
    }
    return 0;
}

} // namespace avwav
