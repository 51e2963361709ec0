#pragma once
// The library's panel: a container with the library bevel, a caption in the middle band of its
// face and children aligned inside the bevel. Main thread.
#include "audio/display/AvObj.h"

class TAvPanel : public TAvCustomPanel {
    Q_OBJECT
    Q_PROPERTY(int Alignment READ AlignmentInt WRITE SetAlignmentInt)
public:
    // Alignment taCenter, Color clBtnFace, bevel as a new TAvBevel.
    explicit TAvPanel(TComponent* AOwner);

private:
    int AlignmentInt() const { return Alignment(); }
    void SetAlignmentInt(int v) { SetAlignment(static_cast<TAlignment>(v)); }
};
