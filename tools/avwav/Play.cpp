// avwav play FILE [--device N] [--loop K|inf]: plays through the wave player, whose chain decodes
// compressed files (ADPCM, mu-law, MPEG ...) and converts what the device cannot take.
#include "tools/avwav/Commands.h"

#include "audio/stream/AvWPlay.h"

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace avwav {

namespace {

std::atomic<bool> gInterrupted{false};
extern "C" void OnInterrupt(int) {
    gInterrupted = true;
}

QString Seconds(double s) {
    return QString::number(s, 'f', 1) + QStringLiteral(" s");
}

} // namespace

int Play(int argc, char** argv, const QStringList& args) {
    QString file;
    int device = 0;
    int loops = 0; // -1: endless
    for (int i = 0; i < args.size(); ++i) {
        bool ok = true;
        if (args[i] == QLatin1String("--device") && i + 1 < args.size()) {
            device = args[++i].toInt(&ok);
        } else if (args[i] == QLatin1String("--loop") && i + 1 < args.size()) {
            const QString k = args[++i];
            loops = k == QLatin1String("inf") ? -1 : k.toInt(&ok);
            ok = ok && loops >= -1 && loops <= 0xFFFF;
        } else if (file.isEmpty() && !args[i].startsWith(QLatin1String("--"))) {
            file = args[i];
        } else {
            ok = false;
        }
        if (!ok) file.clear(), i = int(args.size());
    }
    if (file.isEmpty()) {
        std::fputs(Usage().toUtf8().constData(), stderr);
        return 2;
    }
    // Nothing is shown: without a display the program runs on the offscreen platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The player's own chain: compressed files are decoded on the way, as in the wizard.
    TAvWavePlayer player(nullptr);
    QString failure;
    try {
        player.OpenFile(file);
        if (!player.Wave()->Refusal().isEmpty()) throw EAvWaveError(player.Wave()->Refusal());
        if (player.Wave()->DataSize() == 0)
            throw EAvWaveError(QStringLiteral("the data chunk holds no whole block of samples"));
        player.SetDeviceID(device);
        if (player.DeviceID() != device)
            throw Exception(QStringLiteral("no output device %1").arg(device));
        player.SetCallBackMode(cmWindow);
        player.SetNumBuffers(10);
        player.SetBufferSize(8192);
        player.SetTimeFormat(tfMillisecond);
        player.SetLooping(loops != 0);
        player.SetLoopCount(std::uint16_t(loops > 0 ? loops : 0));
    } catch (const Exception& e) {
        QString message = QStringLiteral("%1: %2").arg(file, e.Message());
        if (!player.Wave()->LastError().isEmpty())
            message += QStringLiteral(" (%1)").arg(player.Wave()->LastError());
        Error(message);
        return 1;
    }

    const double length = player.Wave()->Length() / 1000.0;
    const bool tty = ::isatty(STDOUT_FILENO);
    player.WaveOut()->OnError = [&](TObject*) { failure = QStringLiteral("playback failed"); };
    player.OnStop = [&](TObject*) { QTimer::singleShot(0, &app, &QCoreApplication::quit); };
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        if (gInterrupted.exchange(false)) {
            player.Stop();
            QCoreApplication::quit();
            return;
        }
        if (!tty) return;
        // Heard time across passes, from what the device has played of the decoded sound.
        const WAVEFORMATEX* out = player.WaveOut()->PWaveFormat();
        const double played = out && out->nAvgBytesPerSec
                                  ? double(player.WaveOut()->BytesPlayed()) / out->nAvgBytesPerSec
                                  : 0;
        const int pass = length > 0 ? int(played / length) : 0;
        QString line =
            QStringLiteral("\r%1 / %2").arg(Seconds(played - pass * length), Seconds(length));
        if (loops != 0)
            line += loops > 0 ? QStringLiteral("  pass %1 of %2").arg(pass + 1).arg(loops + 1)
                              : QStringLiteral("  pass %1").arg(pass + 1);
        std::printf("%s   ", line.toUtf8().constData());
        std::fflush(stdout);
    });
    try {
        player.Play();
    } catch (const Exception& e) {
        Error(QStringLiteral("%1: %2").arg(file, e.Message()));
        return 1;
    }
    tick.start();
    if (player.State() & wsOpen) app.exec();
    tick.stop();
    player.Stop();
    if (tty) std::printf("\n");
    if (!failure.isEmpty()) {
        Error(QStringLiteral("%1: %2").arg(file, failure));
        return 1;
    }
    return 0;
}

} // namespace avwav
