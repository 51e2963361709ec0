#pragma once
// The microphone page: pick a recording device, watch the level meter while speaking, set the
// microphone volume. Closing the page (the wizard does so on every page change) stops a test.
#include "framework/Forms.h"
#include "framework/StdCtrls.h"

class TAudioInForm : public TForm {
    Q_OBJECT
public:
    explicit TAudioInForm(TComponent* AOwner);

    TLabel* Label1;
    TButton* ButtonTest; // tag 0 idle ("测试"), 1 while testing ("停止")
    TLabel* Label2;
    TLabel* Label3;

    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormDestroy(TObject* Sender);
    void ButtonTestClick(TObject* Sender);

private:
    // Where recording starts and stops; the button state is kept by the handlers.
    void StartTest();
    void StopTest();
};

extern TAudioInForm* AudioInForm;
