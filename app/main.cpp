// The program entry: chooses the language, reads the command line, then creates the application and
// the five forms and runs the message loop. "--check" runs the device check without a window
// instead.
#include "app/CommandLine.h"
#include "app/DeviceCheck.h"
#include "app/Language.h"
#include "app/WizardForms.h"

#include <QApplication>

int main(int argc, char** argv) {
    TCommandLine options;
    const av::TUiLanguage language = av::UiLanguage();
    if (IsCheckCommand(argc, argv)) {
        // No window system is touched: the check runs over SSH and in scripts.
        QCoreApplication core(argc, argv);
        av::InstallTranslations(language);
        return RunDeviceCheck(QCoreApplication::arguments(), stdout, stderr);
    }
    {
        // Without the window system, so --help and --version work where there is no display.
        QCoreApplication core(argc, argv);
        av::InstallTranslations(language);
        if (const std::optional<int> exitCode = ParseCommandLine(core.arguments(), options))
            return *exitCode;
    }
    // Qt sees only the program's name: the command line is ours.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication qtApp(qtArgc, qtArgv);
    // Our texts and Qt's own words (a message box's "OK" and "Show Details...") in the wizard's
    // language.
    av::InstallTranslations(language);

    TApplication app;
    Application->Initialize();
    Application->SetMainFormOnTaskBar(true);
    CreateWizardForms(app);
    Application->Run();
    return 0;
}
