// avwav: looks at WAVE files through the audio library, outside the wizard.
//   avwav info FILE     format, sizes, length, INFO tags and every repair the reader made; then
//                       the reason, and exit 1, when the file cannot be played
//   avwav play FILE [--device N] [--loop K|inf]   plays it until its end or Ctrl+C
//   avwav decode FILE OUT.raw [--bits 8|16]
//                       the PCM bytes the player's chain makes of it, raw and interleaved, in the
//                       file's own channels and rate
//   avwav --help | --version
// Exit codes: 0 done, 1 the file was refused or could not be played, 2 wrong use.
#include "tools/avwav/Commands.h"

#include <QCoreApplication>
#include <cstdio>

#ifndef AVSETUP_VERSION
#define AVSETUP_VERSION "0"
#endif

int main(int argc, char** argv) {
    const QStringList args = avwav::Arguments(argc, argv);
    if (args.size() == 1 &&
        (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        std::fputs(avwav::Usage().toUtf8().constData(), stdout);
        return 0;
    }
    if (args.size() == 1 &&
        (args[0] == QLatin1String("--version") || args[0] == QLatin1String("-v"))) {
        std::puts("avwav " AVSETUP_VERSION);
        return 0;
    }
    const avwav::TCommand* command = args.isEmpty() ? nullptr : avwav::FindCommand(args.first());
    if (!command) {
        std::fputs(avwav::Usage().toUtf8().constData(), stderr);
        return 2;
    }
    return command->Run(argc, argv, args.mid(1));
}
