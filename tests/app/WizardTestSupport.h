#pragma once
// The wizard as the program starts it, for the tests of its pages: every form on one application,
// the program folder moved where the test wants it, message boxes answered OK and kept.
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/VideoWizard.h"
#include "app/Wizard.h"
#include "app/WizardForms.h"
#include "framework/Threads.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace wizardtest {

// Creates the forms as the program does; the window is not shown yet. The settings file is looked
// for in programDir (the wizard reads it when its window shows and writes it on Finish); an empty
// programDir keeps the program's own folder, for tests that never show the window nor finish.
inline std::unique_ptr<TApplication> StartWizard(const QString& programDir, QStringList& messages) {
    RememberedInPos = RememberedOutPos = 0;
    auto app = std::make_unique<TApplication>();
    app->SetMessageBoxHook([&messages](const QString&, const QString& text, int) {
        messages << text;
        return IDOK;
    });
    CreateWizardForms(*app);
    if (!programDir.isEmpty()) AudioVideoForm->SetProgramFolder(programDir);
    return app;
}

// The application and its forms go; the form variables and remembered positions are cleared.
inline void EndWizard(std::unique_ptr<TApplication>& app) {
    app.reset();
    ForgetWizardForms();
    RememberedInPos = RememberedOutPos = 0;
}

// A program folder and a user's settings home of the test's own, in a temporary folder.
// Made by Make() (false when they cannot be); when it goes the program folder is writable again
// and XDG_CONFIG_HOME is as it was (so it must go after every client of the sound system).
struct SettingsHomes {
    QTemporaryDir Temp;
    QString ProgramDir = Temp.filePath(QStringLiteral("bin"));
    QString ConfigHome = Temp.filePath(QStringLiteral("config"));
    QByteArray OldConfigHome = qgetenv("XDG_CONFIG_HOME");

    bool Make() {
        if (!Temp.isValid() || !QDir().mkpath(ProgramDir)) return false;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigHome));
        return true;
    }
    ~SettingsHomes() {
        QFile::setPermissions(ProgramDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (OldConfigHome.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", OldConfigHome);
    }
};

// Runs the main thread's posted work until cond holds or time is up.
inline bool PumpUntil(const std::function<bool()>& cond, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        QCoreApplication::processEvents();
        CheckSynchronize();
        if (cond()) return true;
        if (t.elapsed() > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace wizardtest
