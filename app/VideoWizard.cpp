#include "app/VideoWizard.h"

TVideoForm* VideoForm = nullptr;

TVideoForm::TVideoForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("VideoForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 475, 328);
    SetColor(clBtnFace);
    OnCreate.Assign(this, &TVideoForm::FormCreate);
    EndLoading();
}

void TVideoForm::FormCreate(TObject*) {}
