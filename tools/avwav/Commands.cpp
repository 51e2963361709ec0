#include "tools/avwav/Commands.h"

#include "audio/stream/AvWPlay.h"
#include "audio/stream/AvWave.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSaveFile>
#include <QUtf8StringView>
#include <cstdio>

namespace avwav {

namespace {

const TCommand kCommands[] = {
    {"info", "FILE", "format, sizes, length, INFO tags and the reader's repairs", &Info},
    {"play", "FILE [--device N] [--loop K|inf]",
     "plays the file (K more times, or endlessly) until its end or Ctrl+C", &Play},
    {"decode", "FILE OUT.raw [--bits 8|16]",
     "the PCM bytes the player would send to the device (the file's channels and rate)", &Decode},
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
    return text;
}

void Error(const QString& message) {
    std::fprintf(stderr, "avwav: %s\n", message.toUtf8().constData());
}

void Print(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
}

int Info(int argc, char** argv, const QStringList& args) {
    if (args.size() != 1) {
        std::fputs(Usage().toUtf8().constData(), stderr);
        return 2;
    }
    QCoreApplication app(argc, argv);
    TAvWave wave;
    try {
        wave.SetFileName(args.first());
    } catch (const Exception& e) {
        QString message = QStringLiteral("%1: %2").arg(args.first(), e.Message());
        if (!wave.LastError().isEmpty()) message += QStringLiteral(" (%1)").arg(wave.LastError());
        Error(message);
        return 1;
    }
    const WAVEFORMATEX* f = wave.GetPWaveFormat();
    const qint64 samples = wave.DataSamples();
    Print(QStringLiteral("file: %1").arg(wave.FileName()));
    Print(QStringLiteral("format: %1 (tag 0x%2)")
              .arg(wave.FormatString())
              .arg(f->wFormatTag, 4, 16, QLatin1Char('0')));
    Print(QStringLiteral("channels: %1").arg(f->nChannels));
    Print(QStringLiteral("rate: %1 Hz").arg(f->nSamplesPerSec));
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
    return 0;
}

namespace {

// Pulls the player's chain (wave file, ADPCM converter, PCM converter) as its wave output would,
// writing every byte it delivers to out. Raises what the chain raises.
void RunChain(TAvWavePlayer& player, QSaveFile& out) {
    TAvDSPComponent* chain[] = {player.WaveFile(), player.ADPCMConverter(), player.PCMConverter()};
    const WAVEFORMATEX* f = player.PCMConverter()->PWaveFormat();
    if (!IsValidPcmFormat(f))
        throw Exception(QStringLiteral("no PCM format for the device can be made of it"));
    for (TAvDSPComponent* c : chain)
        c->Opened();
    for (TAvDSPComponent* c : chain)
        c->Started();
    const int size = player.PCMConverter()->BufferSize();
    std::vector<char> block(AvWaveHdrSize + size);
    TAvWaveHdr* h = AvInitWaveHdr(block.data(), size);
    for (bool more = true; more;) {
        h->dwBufferLength = static_cast<DWORD>(size);
        h->dwBytesRecorded = 0;
        more = false;
        player.PCMConverter()->BufferLoad(h, more);
        const qint64 n = std::min<DWORD>(h->dwBytesRecorded, static_cast<DWORD>(size));
        if (out.write(h->lpData, n) != n)
            throw Exception(QStringLiteral("%1: %2").arg(out.fileName(), out.errorString()));
        if (n == 0) break;
    }
    for (TAvDSPComponent* c : chain)
        c->Stopped();
    for (TAvDSPComponent* c : chain)
        c->Closed();
}

} // namespace

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
    const TAvBits width = bits == 8 ? b8Bit : b16Bit;
    TAvWavePlayer player(nullptr);
    // Written to a temporary file that only becomes OUT when everything went well.
    QSaveFile out(names[1]);
    try {
        player.OpenFile(names[0]);
        const WAVEFORMATEX* f = player.Wave()->GetPWaveFormat();
        player.ADPCMConverter()->SetBitLength(width);
        TAvPCMConverter* pcm = player.PCMConverter();
        pcm->SetAutoConvert(false);
        pcm->SetBitLength(width);
        pcm->SetMode(f->nChannels >= 2 ? mStereo : mMono);
        pcm->SetSampleRate(static_cast<int>(f->nSamplesPerSec));
        if (!out.open(QIODevice::WriteOnly))
            throw Exception(QStringLiteral("%1: %2").arg(names[1], out.errorString()));
        RunChain(player, out);
        if (!out.commit())
            throw Exception(QStringLiteral("%1: %2").arg(names[1], out.errorString()));
    } catch (const Exception& e) {
        out.cancelWriting();
        Error(QStringLiteral("%1: %2").arg(names[0], e.Message()));
        return 1;
    }
    return 0;
}

} // namespace avwav
