#pragma once
// The wizard's five forms, made in one place for the program, the screenshot tool and the tests.
#include "framework/Forms.h"

// Sets the application title and creates the forms in the program's order: the wizard window
// first (so it becomes the main window), then the welcome, speaker, camera and microphone pages.
// Creating a page runs its creation handler (the camera page lists the cameras, the microphone
// page builds its sample format), so that is done when this returns. The window is not shown.
// Main thread, once per application object.
void CreateWizardForms(TApplication& app);

// Clears the five form references once the application that owned the forms has gone, so a new
// application can create them again (the tests start the wizard many times in one process).
void ForgetWizardForms();
