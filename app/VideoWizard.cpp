#include "app/VideoWizard.h"

TVideoForm* VideoForm = nullptr;

TVideoForm::TVideoForm(TComponent* AOwner) : TForm(AOwner) {
    BeginLoading();
    SetName(QStringLiteral("VideoForm"));
    SetBorderStyle(bsNone);
    SetBounds(0, 0, 475, 328);
    SetColor(clBtnFace);

    ComboBoxVideoSou = new TComboBox(this);
    ComboBoxVideoSou->SetName(QStringLiteral("ComboBoxVideoSou"));
    ComboBoxVideoSou->SetParent(this);
    ComboBoxVideoSou->SetBounds(8, 16, 145, 21);
    ComboBoxVideoSou->SetStyle(csDropDown);
    ComboBoxVideoSou->SetTabOrder(1);

    OnCreate.Assign(this, &TVideoForm::FormCreate);
    EndLoading();
}

void TVideoForm::FormCreate(TObject*) {}
