#pragma once
// Panels, bevels, images and the timer. Main thread.
#include "framework/Controls.h"

class QTimer;

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };

// A container panel: outer and inner bevels, border band, centred caption. Children aligned in
// it keep clear of the border and bevels (AdjustClientRect).
class TCustomPanel : public TCustomControl {
    Q_OBJECT
public:
    explicit TCustomPanel(TComponent* AOwner);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut v);
    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut v);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int v);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int v);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle v);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment v);
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool v);

protected:
    void Paint() override;
    void AdjustClientRect(TRect& r) const override;
    int PanelExtent() const;

private:
    TBevelCut FBevelOuter = bvRaised;
    TBevelCut FBevelInner = bvNone;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    TBorderStyle FBorderStyle = bsNone;
    TAlignment FAlignment = taCenter;
    bool FCtl3D = true;
};

class TPanel : public TCustomPanel {
    Q_OBJECT
public:
    using TCustomPanel::TCustomPanel;
};

// A bevel shape (box, frame, separator lines).
class TBevel : public TGraphicControl {
    Q_OBJECT
public:
    explicit TBevel(TComponent* AOwner);
    TBevelShape Shape() const { return FShape; }
    void SetShape(TBevelShape v);
    TBevelStyle Style() const { return FStyle; }
    void SetStyle(TBevelStyle v);

protected:
    void Paint() override;

private:
    TBevelShape FShape = bsBox;
    TBevelStyle FStyle = bsLowered;
};

// A picture on the form.
class TImage : public TGraphicControl {
    Q_OBJECT
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;
    TPicture* Picture() const { return FPicture.get(); }
    void SetPicture(const TPicture* p);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool v);
    bool Stretch() const { return FStretch; }
    void SetStretch(bool v);
    bool Center() const { return FCenter; }
    void SetCenter(bool v);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool v);

protected:
    void Paint() override;
    void PictureChanged();

private:
    std::unique_ptr<TPicture> FPicture;
    bool FAutoSize = false;
    bool FStretch = false;
    bool FCenter = false;
    bool FTransparent = false;
};

// A timer on QTimer: OnTimer every Interval ms while Enabled, on the main thread. It runs only
// when Enabled, Interval > 0, OnTimer assigned and not designing.
class TTimer : public TNonVisualComponent {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Interval READ Interval WRITE SetInterval)
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool v);
    int Interval() const { return FInterval; }
    void SetInterval(int ms);
    void SetOnTimer(TNotifyEvent handler);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }

protected:
    virtual void Timer(); // raises OnTimer
    void Loaded() override;

private:
    void UpdateTimer();
    QTimer* FTimer;
    bool FEnabled = true;
    int FInterval = 1000;
    TNotifyEvent FOnTimer;
};
