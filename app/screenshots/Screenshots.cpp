// Draws the wizard headless and saves one PNG per page (the whole 524 x 375 window):
//   avsetup_screenshots <output folder>
// Run with QT_QPA_PLATFORM=offscreen and AVSETUP_BACKEND=sim (make screenshots does).
#include "app/AudioVideoSet.h"
#include "app/VideoWizard.h"
#include "app/WizardForms.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(outDir);

    TApplication app;
    CreateWizardForms(app);
    AudioVideoForm->Show();
    Application->ProcessMessages();

    int failures = 0;
    auto save = [&](const char* name) {
        Application->ProcessMessages();
        const QString path = QDir(outDir).filePath(QString::fromLatin1(name));
        if (!AudioVideoForm->grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failures;
        }
    };
    save("page-welcome.png");
    AudioVideoForm->NextButton->Click();
    save("page-speakers.png");
    AudioVideoForm->NextButton->Click();
    save("page-microphone.png");
    AudioVideoForm->NextButton->Click();
    // The camera page with its preview running (the simulated camera's test picture).
    VideoForm->ButtonTest->Click();
    QElapsedTimer waited;
    waited.start();
    while (VideoForm->DSVideoWindowEx21->CurrentFrame().isNull() && waited.elapsed() < 10000)
        Application->ProcessMessages();
    save("page-camera.png");
    VideoForm->ButtonTest->Click();
    return failures == 0 ? 0 : 1;
}
