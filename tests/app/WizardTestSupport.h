#pragma once
// The wizard as the program starts it, for the tests of its pages: every form on one application,
// the program folder moved where the test wants it, message boxes answered OK and kept.
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/VideoWizard.h"
#include "app/Wizard.h"
#include "framework/Threads.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace wizardtest {

// Creates the forms as the program does; the window is not shown yet.
inline std::unique_ptr<TApplication> StartWizard(const QString& programDir, QStringList& messages) {
    RememberedInPos = RememberedOutPos = 0;
    auto app = std::make_unique<TApplication>();
    app->SetMessageBoxHook([&messages](const QString&, const QString& text, int) {
        messages << text;
        return IDOK;
    });
    app->CreateForm(AudioVideoForm);
    AudioVideoForm->SetProgramFolder(programDir);
    app->CreateForm(WizardForm);
    app->CreateForm(AudioOutForm);
    app->CreateForm(VideoForm);
    app->CreateForm(AudioInForm);
    return app;
}

// The application and its forms go; the form variables and remembered positions are cleared.
inline void EndWizard(std::unique_ptr<TApplication>& app) {
    app.reset();
    AudioVideoForm = nullptr;
    WizardForm = nullptr;
    AudioOutForm = nullptr;
    VideoForm = nullptr;
    AudioInForm = nullptr;
    RememberedInPos = RememberedOutPos = 0;
}

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
