// The installed application: what `make install` puts where the desktop looks for it, checked by
// the desktop's own validators where they are present, and the programs' --help and --version,
// which must answer without a display.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct RunResult {
    int ExitCode = -1;
    QString Out, Err;
};

RunResult Start(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    RunResult r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// No display of any kind and no platform chosen: a program that touched the window system would
// fail here.
QProcessEnvironment Headless() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    env.remove(QStringLiteral("LANGUAGE"));
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("LC_MESSAGES"));
    return env;
}

TEST(Programs, HelpAndVersionAnswerWithoutADisplay) {
    const QProcessEnvironment env = Headless();
    for (const char* program : {AVSETUP_PATH, AVWAV_PATH}) {
        const QString name = QFileInfo(QString::fromUtf8(program)).fileName();
        RunResult r = Start(QString::fromUtf8(program), {QStringLiteral("--version")}, env);
        EXPECT_EQ(r.ExitCode, 0) << program << r.Err.toStdString();
        EXPECT_EQ(r.Out, name + QStringLiteral(" " AVSETUP_VERSION "\n")) << r.Out.toStdString();

        r = Start(QString::fromUtf8(program), {QStringLiteral("--help")}, env);
        EXPECT_EQ(r.ExitCode, 0) << program << r.Err.toStdString();
        EXPECT_TRUE(r.Out.contains(QStringLiteral("--version"))) << r.Out.toStdString();

        r = Start(QString::fromUtf8(program), {QStringLiteral("--no-such-option")}, env);
        EXPECT_EQ(r.ExitCode, 2) << program;
        EXPECT_TRUE(r.Out.isEmpty());
        EXPECT_TRUE(r.Err.contains(QStringLiteral("--help"))) << r.Err.toStdString();
    }
    // The desktop's language chooses: English for an English desktop, the Chinese source under C.
    QProcessEnvironment english = env;
    english.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    english.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    RunResult r = Start(QStringLiteral(AVSETUP_PATH), {QStringLiteral("--help")}, english);
    EXPECT_TRUE(r.Out.contains(QStringLiteral("A wizard that helps you"))) << r.Out.toStdString();
    r = Start(QStringLiteral(AVSETUP_PATH), {QStringLiteral("--help")}, env);
    EXPECT_TRUE(r.Out.contains(QStringLiteral("向导"))) << r.Out.toStdString();
}

TEST(Install, PutsEveryFileWhereTheDesktopLooksAndTheValidatorsAcceptThem) {
    QTemporaryDir stage;
    ASSERT_TRUE(stage.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), stage.path());
    const RunResult install =
        Start(QStringLiteral(CMAKE_COMMAND),
              {QStringLiteral("--install"), QStringLiteral(BUILD_DIR), QStringLiteral("--prefix"),
               QStringLiteral("/opt/avsetup-test")},
              env);
    ASSERT_EQ(install.ExitCode, 0) << install.Err.toStdString();

    const QDir root(stage.path() + QStringLiteral("/opt/avsetup-test"));
    const QString id = QStringLiteral("org.avsetup.AvSetup");
    QStringList expected = {
        QStringLiteral("bin/avsetup"),
        QStringLiteral("bin/avwav"),
        QStringLiteral("share/avsetup/TestSnd.wav"),
        QStringLiteral("share/applications/") + id + QStringLiteral(".desktop"),
        QStringLiteral("share/metainfo/") + id + QStringLiteral(".metainfo.xml"),
        QStringLiteral("share/icons/hicolor/scalable/apps/") + id + QStringLiteral(".svg"),
        QStringLiteral("share/man/man1/avwav.1.gz"),
        QStringLiteral("share/man/man1/avsetup.1.gz"),
        QStringLiteral("share/doc/avsetup/copyright")};
    for (int size : {48, 64, 128, 256})
        expected << QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(id);
    for (const QString& file : expected)
        EXPECT_TRUE(QFileInfo(root.filePath(file)).isFile()) << file.toStdString();
    EXPECT_TRUE(QFileInfo(root.filePath(QStringLiteral("bin/avsetup"))).isExecutable());

    // The installed program runs from its new place.
    const RunResult version = Start(root.filePath(QStringLiteral("bin/avsetup")),
                                    {QStringLiteral("--version")}, Headless());
    EXPECT_EQ(version.ExitCode, 0) << version.Err.toStdString();

    const QString desktopValidate = QStandardPaths::findExecutable("desktop-file-validate");
    const QString appstream = QStandardPaths::findExecutable("appstreamcli");
    if (!desktopValidate.isEmpty()) {
        const RunResult r = Start(desktopValidate, {root.filePath(expected[3])}, env);
        EXPECT_EQ(r.ExitCode, 0) << r.Out.toStdString() << r.Err.toStdString();
        EXPECT_FALSE(r.Out.contains(QStringLiteral("error"))) << r.Out.toStdString();
    }
    if (!appstream.isEmpty()) {
        const RunResult r = Start(
            appstream,
            {QStringLiteral("validate"), QStringLiteral("--no-net"), root.filePath(expected[4])},
            env);
        EXPECT_EQ(r.ExitCode, 0) << r.Out.toStdString() << r.Err.toStdString();
    }
    if (desktopValidate.isEmpty() || appstream.isEmpty())
        GTEST_SKIP() << "files checked; desktop-file-validate or appstreamcli is not installed";
}

} // namespace
