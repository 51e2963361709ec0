#pragma once
// Runs `avsetup --check ARGS` on one backend with no window system at all, not even the offscreen
// one the tests use, and collects what it said.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

struct TRun {
    int Status = -1;
    QByteArray Out, Err;
    QJsonObject Json;
};

inline TRun RunCheckOn(const char* backend, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("AVSETUP_BACKEND"), QString::fromLatin1(backend));
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(v));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(AVSETUP_PATH), QStringList{QStringLiteral("--check")} + args);
    TRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.Status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = p.readAllStandardOutput();
    r.Err = p.readAllStandardError();
    r.Json = QJsonDocument::fromJson(r.Out).object();
    return r;
}
