#pragma once
// The base of the audio library's visual controls: a change-notifying object, the multi-layer
// bevel every library control draws around its face, the component bases, and the three control
// bases that own a bevel (windowed, panel, windowless). Library controls are ordinary framework
// controls (QWidgets): they only add the bevel, its extent and the inner rectangle.
// Everything here is main-thread only.
#include "framework/Classes.h"
#include "framework/Controls.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"

#include <QObject>
#include <memory>

using TBevelWidth = int;
using TBorderWidth = int;

// The library's own cursors, registered with the screen under these numbers the first time a
// library control is created. 2005 is the slider's hand.
constexpr TCursor crAvFirst = 2001;
constexpr TCursor crAvHand = 2005;
constexpr TCursor crAvLast = 2031;
void AvRegisterCursors();

// An object that tells its owner before and after it changes. The owner assigns the events;
// inside BeginUpdate ... EndUpdate changes are silent and the closing EndUpdate reports one.
class TAvObject : public QObject, public TPersistent {
    Q_OBJECT
public:
    TAvObject() = default;

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;

protected:
    // starting: OnChanging, else OnChange; neither inside an update bracket.
    virtual void Changed(bool starting);

private:
    int FUpdateCount = 0;
};

// Layers from the outside in: one-pixel frame (BorderStyle), outer bevel, border band
// (BorderWidth, BorderColor), inner bevel, space band (BorderSpace, BorderSpaceColor).
class TAvBevel : public TAvObject {
    Q_OBJECT
    Q_PROPERTY(int BevelInner READ BevelInnerInt WRITE SetBevelInnerInt)
    Q_PROPERTY(int BevelOuter READ BevelOuterInt WRITE SetBevelOuterInt)
    Q_PROPERTY(int BevelInnerWidth READ BevelInnerWidth WRITE SetBevelInnerWidth)
    Q_PROPERTY(int BevelOuterWidth READ BevelOuterWidth WRITE SetBevelOuterWidth)
    Q_PROPERTY(int BorderStyle READ BorderStyleInt WRITE SetBorderStyleInt)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(int BorderSpace READ BorderSpace WRITE SetBorderSpace)
    Q_PROPERTY(int BorderColor READ BorderColor WRITE SetBorderColor)
    Q_PROPERTY(int BorderSpaceColor READ BorderSpaceColor WRITE SetBorderSpaceColor)
    Q_PROPERTY(int InnerLightColor READ InnerLightColor WRITE SetInnerLightColor)
    Q_PROPERTY(int InnerShadowColor READ InnerShadowColor WRITE SetInnerShadowColor)
    Q_PROPERTY(int OuterLightColor READ OuterLightColor WRITE SetOuterLightColor)
    Q_PROPERTY(int OuterShadowColor READ OuterShadowColor WRITE SetOuterShadowColor)
public:
    // Indexes of the shared colour setter.
    enum ColorIndex {
        ciBorder,
        ciBorderSpace,
        ciInnerLight,
        ciInnerShadow,
        ciOuterLight,
        ciOuterShadow
    };

    TAvBevel() = default;

    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut v);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut v);
    TBevelWidth BevelInnerWidth() const { return FBevelInnerWidth; }
    void SetBevelInnerWidth(TBevelWidth v);
    TBevelWidth BevelOuterWidth() const { return FBevelOuterWidth; }
    void SetBevelOuterWidth(TBevelWidth v);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle v);
    TBorderWidth BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(TBorderWidth v);
    TBorderWidth BorderSpace() const { return FBorderSpace; }
    void SetBorderSpace(TBorderWidth v);

    TColor GetColor(int index) const;
    void SetColor(int index, TColor v);
    TColor BorderColor() const { return GetColor(ciBorder); }
    void SetBorderColor(TColor v) { SetColor(ciBorder, v); }
    TColor BorderSpaceColor() const { return GetColor(ciBorderSpace); }
    void SetBorderSpaceColor(TColor v) { SetColor(ciBorderSpace, v); }
    TColor InnerLightColor() const { return GetColor(ciInnerLight); }
    void SetInnerLightColor(TColor v) { SetColor(ciInnerLight, v); }
    TColor InnerShadowColor() const { return GetColor(ciInnerShadow); }
    void SetInnerShadowColor(TColor v) { SetColor(ciInnerShadow, v); }
    TColor OuterLightColor() const { return GetColor(ciOuterLight); }
    void SetOuterLightColor(TColor v) { SetColor(ciOuterLight, v); }
    TColor OuterShadowColor() const { return GetColor(ciOuterShadow); }
    void SetOuterShadowColor(TColor v) { SetColor(ciOuterShadow, v); }

    // From another bevel: every property, reported as one change.
    void Assign(const TPersistent* source) override;

    // Pixels the bevel takes on each side.
    int BevelExtent() const;
    // Paints the layers inside outer and returns the rectangle left inside them. With
    // fillBorder false the border band is skipped (left as it is) but still taken.
    virtual TRect Paint(TCanvas* canvas, const TRect& outer, bool fillBorder);

private:
    int BevelInnerInt() const { return FBevelInner; }
    void SetBevelInnerInt(int v) { SetBevelInner(static_cast<TBevelCut>(v)); }
    int BevelOuterInt() const { return FBevelOuter; }
    void SetBevelOuterInt(int v) { SetBevelOuter(static_cast<TBevelCut>(v)); }
    int BorderStyleInt() const { return FBorderStyle; }
    void SetBorderStyleInt(int v) { SetBorderStyle(static_cast<TBorderStyle>(v)); }
    template <class T> void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed(false);
    }

    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvLowered;
    TBevelWidth FBevelInnerWidth = 1;
    TBevelWidth FBevelOuterWidth = 1;
    TBorderStyle FBorderStyle = bsNone;
    TBorderWidth FBorderWidth = 0;
    TBorderWidth FBorderSpace = 0;
    TColor FColors[6] = {clBtnFace,   clBlack,        clBtnHighlight,
                         clBtnShadow, clBtnHighlight, clBtnShadow};
};

// Component bases: SetDesignMode switches the design state of the component and its owned ones.
class TAvComponent : public TNonVisualComponent {
    Q_OBJECT
public:
    explicit TAvComponent(TComponent* AOwner) : TNonVisualComponent(AOwner) {}
    virtual void SetDesignMode(bool designing);
};

class TAvNonVisualComponent : public TAvComponent {
    Q_OBJECT
public:
    using TAvComponent::TAvComponent;
};

// The bevel every library control owns, with its accessors. The control connects the bevel's
// OnChange to its own BevelChanged once it is fully constructed; the connection ends with it.
class TAvBevelled {
public:
    TAvBevel* Bevel() const { return FBevel.get(); }
    // Copies the settings; the owned bevel stays the same object.
    void SetBevel(TAvBevel* bevel) { FBevel->Assign(bevel); }
    int BevelExtent() const { return FBevel ? FBevel->BevelExtent() : 0; }

protected:
    TAvBevelled() : FBevel(std::make_unique<TAvBevel>()) {}
    ~TAvBevelled() { FBevel->OnChange.Clear(); }
    TAvBevelled(const TAvBevelled&) = delete;
    TAvBevelled& operator=(const TAvBevelled&) = delete;

private:
    std::unique_ptr<TAvBevel> FBevel;
};

// A windowed library control: an opaque framework custom control with a bevel.
class TAvCustomControl : public TCustomControl, public TAvBevelled {
    Q_OBJECT
    Q_PROPERTY(TAvBevel* Bevel READ Bevel WRITE SetBevel)
public:
    explicit TAvCustomControl(TComponent* AOwner);

    // The client rectangle less the bevel on every side.
    TRect InnerRect() const;
    virtual void SetDesignMode(bool designing);

protected:
    void Paint() override;
    virtual void BevelChanged(TObject* sender);
};

// A container panel whose children are aligned inside its bevel. The framework panel's own
// border and bevels stay off; the library bevel and the caption are painted here.
class TAvCustomPanel : public TCustomPanel, public TAvBevelled {
    Q_OBJECT
    Q_PROPERTY(TAvBevel* Bevel READ Bevel WRITE SetBevel)
public:
    explicit TAvCustomPanel(TComponent* AOwner);

    TRect InnerRect() const;
    virtual void SetDesignMode(bool designing);

protected:
    void Paint() override;
    void AdjustClientRect(TRect& r) const override;
    virtual void BevelChanged(TObject* sender);
};

// A windowless library control: an opaque framework graphic control with a bevel.
class TAvGraphicControl : public TGraphicControl, public TAvBevelled {
    Q_OBJECT
    Q_PROPERTY(TAvBevel* Bevel READ Bevel WRITE SetBevel)
public:
    explicit TAvGraphicControl(TComponent* AOwner);

    TRect InnerRect() const;
    virtual void SetDesignMode(bool designing);

protected:
    void Paint() override;
    virtual void BevelChanged(TObject* sender);
};
