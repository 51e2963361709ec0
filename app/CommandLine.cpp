#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#ifndef AVSETUP_VERSION
#define AVSETUP_VERSION "0"
#endif

std::optional<int> ParseCommandLine(const QStringList& arguments, TCommandLine& options) {
    (void)options;
    QCoreApplication::setApplicationName(QStringLiteral("avsetup"));
    QCoreApplication::setApplicationVersion(QStringLiteral(AVSETUP_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "CommandLine", "帮助您选择并调节扬声器、麦克风和网络摄像机的向导。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // Only listed here: main runs the check before this parser sees the command line.
    parser.addOption(QCommandLineOption(
        QStringLiteral("check"),
        QCoreApplication::translate("CommandLine",
                                    "不打开窗口，检查扬声器、麦克风和摄像头后退出（另可用 --json、"
                                    "--speaker、--microphone、--camera、--seconds）。")));

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n\n%s", qUtf8Printable(parser.errorText()),
                     qUtf8Printable(parser.helpText()));
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s\n\n%s",
                     qUtf8Printable(QCoreApplication::translate("CommandLine", "多余的参数：%1")
                                        .arg(parser.positionalArguments().join(QLatin1Char(' ')))),
                     qUtf8Printable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qUtf8Printable(QCoreApplication::applicationName()),
                    qUtf8Printable(QCoreApplication::applicationVersion()));
        return 0;
    }
    return std::nullopt;
}
