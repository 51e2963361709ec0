#include "app/WizardForms.h"

#include "app/AudioInWizardUnit.h"
#include "app/AudioOutWizardUnit.h"
#include "app/AudioVideoSet.h"
#include "app/VideoWizard.h"
#include "app/Wizard.h"

#include <QCoreApplication>

void CreateWizardForms(TApplication& app) {
    app.SetTitle(QCoreApplication::translate("TAudioVideoForm", "音频视频设置"));
    app.CreateForm(AudioVideoForm);
    app.CreateForm(WizardForm);
    app.CreateForm(AudioOutForm);
    app.CreateForm(VideoForm);
    app.CreateForm(AudioInForm);
}

void ForgetWizardForms() {
    AudioVideoForm = nullptr;
    WizardForm = nullptr;
    AudioOutForm = nullptr;
    VideoForm = nullptr;
    AudioInForm = nullptr;
}
