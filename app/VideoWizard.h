#pragma once
// The camera page: pick a camera, preview it, open its own settings.
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

class TVideoForm : public TForm {
    Q_OBJECT
public:
    explicit TVideoForm(TComponent* AOwner);

    TComboBox* ComboBoxVideoSou; // the cameras by name, in enumeration order

    void FormCreate(TObject* Sender);
};

extern TVideoForm* VideoForm;
