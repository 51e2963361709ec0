// The program entry: creates the application and the five forms, then runs the message loop.
// No command-line argument is read (Qt sees only the program name).
#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/VideoWizard.h"
#include "app/Wizard.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int main(int, char** argv) {
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication qtApp(qtArgc, qtArgv);
    // Qt's own words (a message box's "OK" and "Show Details...") in the wizard's language.
    QTranslator qtWords;
    if (qtWords.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                     QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtWords);

    TApplication app;
    Application->Initialize();
    Application->SetMainFormOnTaskBar(true);
    Application->SetTitle(QStringLiteral("音频视频设置"));
    Application->CreateForm(AudioVideoForm);
    Application->CreateForm(WizardForm);
    Application->CreateForm(AudioOutForm);
    Application->CreateForm(VideoForm);
    Application->CreateForm(AudioInForm);
    Application->Run();
    return 0;
}
