#include "audio/display/AvScale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

void TAvCustomScale::SetVisible(bool v) {
    Store(FVisible, v);
}
void TAvCustomScale::SetColor(TColor v) {
    Store(FColor, v);
}
void TAvCustomScale::SetStyle(TAvScaleStyle v) {
    Store(FStyle, v);
}
void TAvCustomScale::SetTickCount(int v) {
    Store(FTickCount, std::max(v, 2));
}
void TAvCustomScale::SetEnlargeEvery(int v) {
    Store(FEnlargeEvery, std::max(v, 1));
}
void TAvCustomScale::SetSize(int v) {
    Store(FSize, std::max(v, 1));
}
void TAvCustomScale::SetOrigin(TAvScaleOrigin v) {
    Store(FOrigin, v);
}
void TAvCustomScale::SetConnect(bool v) {
    Store(FConnect, v);
}

void TAvCustomScale::Changed() {
    OnChange(this);
}

void TAvCustomScale::Assign(const TPersistent* source) {
    const auto* src = dynamic_cast<const TAvCustomScale*>(source);
    if (!src) {
        TPersistent::Assign(source);
        return;
    }
    if (src == this) return;
    FVisible = src->FVisible;
    FColor = src->FColor;
    FStyle = src->FStyle;
    FTickCount = src->FTickCount;
    FEnlargeEvery = src->FEnlargeEvery;
    FSize = src->FSize;
    FOrigin = src->FOrigin;
    FConnect = src->FConnect;
    Changed();
}

int TAvCustomScale::ScaleExtent() const {
    if (!FConnect) return FSize;
    return FSize + 1 + (FStyle != stColor ? 1 : 0);
}

void TAvCustomScale::Line(int x1, int y1, int x2, int y2, TColor color) {
    FCanvas->Pen()->SetColor(color);
    FCanvas->Pen()->SetStyle(psSolid);
    FCanvas->Pen()->SetWidth(1);
    FCanvas->MoveTo(x1, y1);
    FCanvas->LineTo(x2, y2);
}

void TAvCustomScale::DrawLine(int x1, int y1, int x2, int y2, TColor color) {
    if (!FCanvas) throw EAvScaleError(QStringLiteral("Canvas needed for this operation"));
    if (FStyle == stColor) {
        Line(x1, y1, x2, y2, color);
        return;
    }
    const TColor first = FStyle == stLowered ? clBlack : clWhite;
    const TColor second = FStyle == stLowered ? clWhite : clBlack;
    Line(x1, y1, x2, y2, first);
    // The partner line lies beside a steep line (right when it runs with the slope, left when
    // against it) and below a flat one. A zero-length line counts as steep.
    const int dy = y1 - y2;
    int dx = x2 - x1;
    if (dx == 0) dx = dy;
    int sx = 0, sy = 0;
    if (std::abs(dy) >= std::abs(dx))
        sx = (dx == 0 || (dy < 0) == (dx < 0) || dy == 0) ? 1 : -1;
    else
        sy = 1;
    Line(x1 + sx, y1 + sy, x2 + sx, y2 + sy, second);
}

void TAvCustomScale::DrawScale(const TRect& r, bool firstSide) {
    if (!FCanvas) throw EAvScaleError(QStringLiteral("Canvas needed for this operation"));
    const int L = r.Left, T = r.Top, R = r.Right, B = r.Bottom;
    const int W = R - L, H = B - T;
    const bool horizontal = H < W;
    const float length = static_cast<float>(horizontal ? W : H);
    const bool high = (FOrigin == soInner && firstSide) || (FOrigin == soOuter && !firstSide);
    const int k = FConnect && FStyle != stColor ? 1 : 0;

    if (FConnect) {
        if (horizontal) {
            if (high)
                DrawLine(L, B - k, R + 1, B - k, FColor);
            else
                DrawLine(L, T - 1, R + 1, T - 1, FColor);
        } else {
            if (high)
                DrawLine(R - 1 - k, T + 1, R - 1 - k, B + 1, FColor);
            else
                DrawLine(L, T + 1, L, B + 1, FColor);
        }
    }
    const float step = length / static_cast<float>(FTickCount - 1);
    for (int i = 0; i < FTickCount; ++i) {
        const float p = step * static_cast<float>(i);
        const int t = i % FEnlargeEvery == 0 ? FSize : FSize / 2;
        if (horizontal) {
            const int x = L + static_cast<int>(p);
            if (high)
                DrawLine(x, B - t, x, B, FColor);
            else
                DrawLine(x, T, x, T + t, FColor);
        } else {
            const int y = T + static_cast<int>(std::nearbyint(p)); // ties to even
            if (high)
                DrawLine(R - t - k, y, R - k, y, FColor);
            else
                DrawLine(L + k, y, L + t + k, y, FColor);
        }
    }
}
