#pragma once
// The tick scale a slider draws beside its groove: TickCount ticks spread evenly over the scale's
// length, every EnlargeEvery-th full length (Size) and the others half, optionally joined by a
// connecting line, flat (stColor) or as a lowered or raised double line. The owner sets Canvas
// before every drawing. Main thread.
#include "framework/Exceptions.h"
#include "framework/Graphics.h"

#include <QObject>

AV_DECLARE_EXCEPTION(EAvScaleError, Exception);

enum TAvScaleStyle : std::uint8_t { stColor, stLowered, stRaised };
enum TAvScaleOrigin : std::uint8_t { soInner, soOuter };

class TAvCustomScale : public QObject, public TPersistent {
    Q_OBJECT
public:
    TAvCustomScale() = default;

    bool Visible() const { return FVisible; }
    void SetVisible(bool v);
    TColor Color() const { return FColor; }
    void SetColor(TColor v);
    TAvScaleStyle Style() const { return FStyle; }
    void SetStyle(TAvScaleStyle v);
    int TickCount() const { return FTickCount; }
    void SetTickCount(int v); // at least 2
    int EnlargeEvery() const { return FEnlargeEvery; }
    void SetEnlargeEvery(int v); // at least 1
    int Size() const { return FSize; }
    void SetSize(int v); // at least 1
    TAvScaleOrigin Origin() const { return FOrigin; }
    void SetOrigin(TAvScaleOrigin v);
    bool Connect() const { return FConnect; }
    void SetConnect(bool v);

    // Not owned; set by the owner before drawing.
    TCanvas* Canvas() const { return FCanvas; }
    void SetCanvas(TCanvas* canvas) { FCanvas = canvas; }

    // From another scale: the eight properties, one change.
    void Assign(const TPersistent* source) override;

    // Depth the owner reserves beside its groove.
    int ScaleExtent() const;
    // Draws the ticks in r. firstSide: the scale lies left of or above the groove.
    void DrawScale(const TRect& r, bool firstSide);
    // One tick or connecting line from (x1, y1) up to but excluding (x2, y2), in the style.
    void DrawLine(int x1, int y1, int x2, int y2, TColor color);

    // Raised after every change (the owning slider repaints).
    TNotifyEvent OnChange;

protected:
    void Changed();

private:
    void Line(int x1, int y1, int x2, int y2, TColor color);
    template <class T> void Store(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }

    bool FVisible = true;
    TColor FColor = clBlack;
    TAvScaleStyle FStyle = stColor;
    int FTickCount = 11;
    int FEnlargeEvery = 5;
    int FSize = 7;
    TAvScaleOrigin FOrigin = soInner;
    bool FConnect = false;
    TCanvas* FCanvas = nullptr;
};

class TAvScale : public TAvCustomScale {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(int Style READ StyleInt WRITE SetStyleInt)
    Q_PROPERTY(int TickCount READ TickCount WRITE SetTickCount)
    Q_PROPERTY(int EnlargeEvery READ EnlargeEvery WRITE SetEnlargeEvery)
    Q_PROPERTY(int Size READ Size WRITE SetSize)
    Q_PROPERTY(int Origin READ OriginInt WRITE SetOriginInt)
    Q_PROPERTY(bool Connect READ Connect WRITE SetConnect)
public:
    TAvScale() = default;

private:
    int StyleInt() const { return Style(); }
    void SetStyleInt(int v) { SetStyle(static_cast<TAvScaleStyle>(v)); }
    int OriginInt() const { return Origin(); }
    void SetOriginInt(int v) { SetOrigin(static_cast<TAvScaleOrigin>(v)); }
};
