#include "audio/display/AvPanel.h"

TAvPanel::TAvPanel(TComponent* AOwner) : TAvCustomPanel(AOwner) {
    SetAlignment(taCenter);
    SetColor(clBtnFace);
}
