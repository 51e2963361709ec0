#pragma once
// The welcome page: four labels on white, no code of its own.
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

class TWizardForm : public TForm {
    Q_OBJECT
public:
    explicit TWizardForm(TComponent* AOwner);

    TLabel* Label1;
    TLabel* Label2;
    TLabel* Label3;
    TLabel* Label4;
};

extern TWizardForm* WizardForm;
