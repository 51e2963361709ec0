// avwav play FILE [--device N] [--loop K|inf]: plays through the wave file and a wave output.
#include "tools/avwav/Commands.h"

#include "audio/stream/AvWavOut.h"
#include "audio/stream/AvWave.h"

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

    TAvWaveFile source(nullptr);
    TAvWaveOut out(nullptr);
    QString failure;
    try {
        source.Wave()->SetFileName(file);
        if (source.Wave()->Empty()) throw EAvWaveError(QStringLiteral("the file holds no samples"));
        out.SetDeviceID(device);
        if (out.DeviceID() != device)
            throw Exception(QStringLiteral("no output device %1").arg(device));
        out.SetCallBackMode(cmWindow);
        out.SetNumBuffers(10);
        out.SetBufferSize(8192);
        out.SetLooping(loops != 0);
        out.SetLoopCount(std::uint16_t(loops > 0 ? loops : 0));
        out.SetInput(&source);
    } catch (const Exception& e) {
        QString message = QStringLiteral("%1: %2").arg(file, e.Message());
        if (!source.Wave()->LastError().isEmpty())
            message += QStringLiteral(" (%1)").arg(source.Wave()->LastError());
        Error(message);
        return 1;
    }

    const WAVEFORMATEX* f = source.Wave()->GetPWaveFormat();
    const double length = double(source.Wave()->DataSize()) / f->nAvgBytesPerSec;
    const bool tty = ::isatty(STDOUT_FILENO);
    out.OnError = [&](TObject*) { failure = QStringLiteral("playback failed"); };
    out.OnClose = [&](TObject*) { QTimer::singleShot(0, &app, &QCoreApplication::quit); };
    out.OnStop = [&](TObject*) { QTimer::singleShot(0, &app, [&] { out.Close(); }); };
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        if (gInterrupted.exchange(false)) {
            out.Stop();
            out.Close();
            QCoreApplication::quit();
            return;
        }
        if (!tty) return;
        const double played = double(out.BytesPlayed()) / f->nAvgBytesPerSec;
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
        out.Start();
    } catch (const Exception& e) {
        Error(QStringLiteral("%1: %2").arg(file, e.Message()));
        return 1;
    }
    tick.start();
    if (out.State().testFlag(wsOpen) || out.State().testFlag(wsStarted)) app.exec();
    tick.stop();
    out.Close();
    if (tty) std::printf("\n");
    if (!failure.isEmpty()) {
        Error(QStringLiteral("%1: %2").arg(file, failure));
        return 1;
    }
    return 0;
}

} // namespace avwav
