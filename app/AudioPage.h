#pragma once
// What the speaker and the microphone page share: how their components are made.
#include "framework/Forms.h"

class TAudioPageForm : public TForm {
public:
    using TForm::TForm;

protected:
    // The one place where the page's components are made and their stored properties set; the
    // page's constructor runs it inside the form's loading bracket, so each component's loaded
    // step follows as on a form read from its resource. Non-visual first: the list and the lines
    // refer to the mixer.
    void CreateComponents() {
        CreateMixerComponents();
        CreateControls();
        CreatePageParts();
    }
    virtual void CreateMixerComponents() = 0;
    virtual void CreateControls() = 0;
    // The rest: the volume blocks, the meter, the player or the recorder, the checks.
    virtual void CreatePageParts() = 0;
};
