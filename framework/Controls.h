#pragma once
// Visual controls. Every control is a QWidget whose QObject parent is its visual Parent; its
// Owner (usually the form) destroys it. The classic properties map onto the widget:
//   Left/Top/Width/Height  -> geometry relative to the parent (client size for forms)
//   Visible                -> the wish to be shown (kept while the control has no Parent)
//   Enabled, Caption, Font, Color (TColor), ParentFont/ParentColor, Cursor, Hint, Tag
//   Align                  -> docking performed by the parent (TWinControl::AlignControls)
//   TabOrder/TabStop       -> the focus chain among the siblings
// Input arrives through virtual methods that descendants override: MouseDown/MouseMove/MouseUp
// (button, shift state, x, y), KeyDown/KeyUp (virtual-key codes VK_..., shift state), DoEnter/
// DoExit (focus), Resize, Paint (with Canvas valid), Click. An exception escaping any of them is
// handed to the application's exception handler and the program goes on.
//
// TWinControl     a windowed control: can hold child controls, takes the focus when TabStop.
// TCustomControl  a TWinControl that paints itself in Paint() and fills its Color behind.
// TGraphicControl a windowless control: a light QWidget with Qt::NoFocus that never takes the
//                 focus, paints only in Paint() and fills nothing behind it unless it asks for
//                 an opaque background (SetOpaque).
// All main thread.
#include "framework/Classes.h"
#include "framework/Graphics.h"

#include <QCursor>
#include <QWidget>

class TWinControl;
class QAccessibleInterface;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TVerticalAlignment { taAlignTop, taAlignBottom, taVerticalCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TBorderStyle = TFormBorderStyle; // bsNone / bsSingle for controls
enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TShiftStateFlag : unsigned {
    ssShift = 0x1,
    ssAlt = 0x2,
    ssCtrl = 0x4,
    ssLeft = 0x8,
    ssRight = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40,
};
using TShiftState = unsigned;

// Cursors: negative numbers are the built-in shapes, positive numbers are registered by the
// program (RegisterCursor, or Screen->SetCursorShape), e.g. the audio library's 2001..2031.
using TCursor = int;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4,
                  crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10,
                  crHourGlass = -11, crDrag = -12, crNoDrop = -13, crHSplit = -14, crVSplit = -15,
                  crMultiDrag = -16, crSQLWait = -17, crNo = -18, crAppStart = -19, crHelp = -20,
                  crHandPoint = -21, crSizeAll = -22;

// The cursor table (main thread): the shape registered for a number, else the built-in shape
// (the arrow for an unknown number). Controls and the screen share it.
QCursor CursorShape(TCursor c);
void RegisterCursor(TCursor c, const QCursor& shape);
bool CursorRegistered(TCursor c);

// Virtual-key codes.
using WORD = std::uint16_t;
enum : WORD {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_F1 = 0x70,
    VK_F2,
    VK_F3,
    VK_F4,
    VK_F5,
    VK_F6,
    VK_F7,
    VK_F8,
    VK_F9,
    VK_F10,
    VK_F11,
    VK_F12,
};
// The virtual-key code of a Qt key (letters and digits map to their upper-case ASCII code).
WORD QtKeyToVirtualKey(int qtKey);
int VirtualKeyToQtKey(WORD vk);

// Size limits (0 = none).
struct TSizeConstraints {
    int MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0;
};

using TMouseEvent = TEvent<TObject*, TMouseButton, TShiftState, int, int>;
using TMouseMoveEvent = TEvent<TObject*, TShiftState, int, int>;
using TKeyEvent = TEvent<TObject*, WORD&, TShiftState>;

class TControl : public QWidget, public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(int Left READ Left WRITE SetLeft)
    Q_PROPERTY(int Top READ Top WRITE SetTop)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool ParentFont READ ParentFont WRITE SetParentFont)
    Q_PROPERTY(int Cursor READ Cursor WRITE SetCursor)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;
    QObject* GetQObject() override { return this; }
    void SetName(const QString& name) override;

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* parent);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
    void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
    void SetWidth(int v) { SetBounds(FLeft, FTop, v, FHeight); }
    void SetHeight(int v) { SetBounds(FLeft, FTop, FWidth, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
    void SetBoundsRect(const TRect& r) { SetBounds(r.Left, r.Top, r.Width(), r.Height()); }
    virtual TRect ClientRect() const { return Rect(0, 0, FWidth, FHeight); }
    int ClientWidth() const { return ClientRect().Width(); }
    int ClientHeight() const { return ClientRect().Height(); }
    void SetClientSize(int w, int h);
    TSizeConstraints& Constraints() { return FConstraints; }
    void SetConstraints(const TSizeConstraints& c);

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign a);

    bool Visible() const { return FVisible; }
    void SetVisible(bool v);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Showing() const { return isVisible(); } // really on screen (parents shown too)
    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool v);

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& v);
    QString Text() const { return FCaption; }
    void SetText(const QString& v) { SetCaption(v); }
    int Tag() const { return FTag; }
    void SetTag(int v) { FTag = v; }
    QString Hint() const { return FHint; }
    void SetHint(const QString& v);

    TColor Color() const { return FColor; }
    void SetColor(TColor c);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool v);
    TFont* Font() const { return FFont.get(); }
    void SetFont(const TFont* f) { FFont->Assign(f); }
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool v);

    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor c);

    // Valid during Paint (and for TGraphicControl/TCustomControl only).
    TCanvas* Canvas() const { return FCanvas.get(); }

    // Asks for a full repaint (later, through the message loop). Controls that also paint parts
    // of themselves at once learn here that the whole picture is due.
    virtual void Invalidate() { update(); }
    void Repaint() { repaint(); }
    void Refresh() { repaint(); }
    void Update() { update(); }
    void BringToFront();
    void SendToBack();
    TPoint ClientToScreen(TPoint p) const;
    TPoint ScreenToClient(TPoint p) const;

    // Simulates a click as the user's would (OnClick).
    virtual void Click();

    // What a screen reader is told about this control: its role, name and value. nullptr (the
    // default) leaves it to Qt, which knows the wrapped Qt controls; a control that paints itself
    // answers with an interface of its own. Asked once per control, when a tool first looks.
    virtual QAccessibleInterface* CreateAccessible() { return nullptr; }

    // Stored in the form, raised only when assigned.
    TNotifyEvent OnClick, OnDblClick, OnResize;
    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnMouseEnter, OnMouseLeave;

protected:
    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

    virtual void Paint() {}
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DblClick();
    virtual void MouseEnter();
    virtual void MouseLeave();
    virtual void Resize();                   // after the size changed (OnResize)
    virtual void TextChanged() { update(); } // Caption changed
    virtual void FontChanged();              // Font changed (applies it to the widget)
    virtual void ColorChanged();             // Color changed (applies the background)
    virtual void EnabledChanged() { update(); }
    virtual void VisibleChanged() {}
    // Constrained sizes; descendants may adjust (e.g. auto-size).
    virtual void ConstrainedResize(int& width, int& height);
    // The widget that receives the font and palette (inner widgets of wrapped Qt controls).
    virtual void ApplyFontToWidget(const QFont& font);

    // Background: true makes the widget fill its Color before Paint.
    void SetOpaque(bool v);
    bool Opaque() const { return FOpaque; }
    // Copies font and colour from the parent where ParentFont / ParentColor are set.
    void ParentChanged();

    // QWidget plumbing.
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;

    // Puts FLeft/FTop/FWidth/FHeight on the widget (forms also fix a dialog's size).
    virtual void ApplyGeometry();
    void RequestParentAlign();
    static TShiftState ShiftFromQt(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons);

    friend class TWinControl;
    TWinControl* FParent = nullptr;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    bool FVisible = true;
    bool FIsForm = false; // set by TForm: a window of its own while it has no Parent

private:
    void FontObjectChanged();
    TAlign FAlign = alNone;
    bool FEnabled = true;
    QString FCaption;
    QString FHint;
    int FTag = 0;
    TColor FColor = clBtnFace;
    bool FParentColor = true;
    bool FParentFont = true;
    bool FOpaque = false;
    bool FApplyingParent = false;
    bool FPressed = false;
    TCursor FCursor = crDefault;
    TSizeConstraints FConstraints;
    std::unique_ptr<TFont> FFont;
    std::unique_ptr<TCanvas> FCanvas;
};

class TWinControl : public TControl {
    Q_OBJECT
    friend class TControl;
    Q_PROPERTY(int TabOrder READ TabOrder WRITE SetTabOrder)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    // Child controls in the order they became children.
    int ControlCount() const;
    TControl* Controls(int index) const;
    std::vector<TControl*> ControlList() const;

    int TabOrder() const { return FTabOrder; }
    void SetTabOrder(int v);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool v);
    bool CanFocus() const;
    bool Focused() const;
    virtual void SetFocus();
    // The name a screen reader says for the control, where its own text does not say it (a list,
    // a slider): set on the control and on the widget that takes its focus.
    virtual void SetAccessibleName(const QString& name);

    // Docks the aligned children into the client rectangle (after AdjustClientRect), in the
    // order alTop, alBottom, alLeft, alRight, alClient; within one kind by position, then by
    // child order. Runs on resize and whenever a child's Align, size or visibility changes.
    // `trigger` (the child whose Align, size or visibility changed) goes first among children
    // of the same kind at the same position.
    void Realign(TControl* trigger = nullptr);
    void DisableAlign() { ++FAlignDisabled; }
    void EnableAlign();

    TNotifyEvent OnEnter, OnExit;
    TKeyEvent OnKeyDown, OnKeyUp;

protected:
    void Loaded() override;
    virtual void AdjustClientRect(TRect& r) const { (void)r; }
    virtual void AlignControls(TControl* control, TRect& r);
    virtual void DoEnter();
    virtual void DoExit();
    virtual void KeyDown(WORD& key, TShiftState shift);
    virtual void KeyUp(WORD& key, TShiftState shift);
    // The widget that takes the focus for this control (inner widgets of wrapped Qt controls).
    virtual QWidget* FocusWidget() { return this; }
    void UpdateFocusPolicy();
    void UpdateTabChain();

    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void childEvent(QChildEvent* e) override;

private:
    int FTabOrder = -1;
    bool FTabStop = false;
    bool FAligning = false;
    int FAlignDisabled = 0;
    bool FAlignPending = false;
    TControl* FAlignTrigger = nullptr;
};

class TCustomControl : public TWinControl {
    Q_OBJECT
public:
    explicit TCustomControl(TComponent* AOwner);
};

class TGraphicControl : public TControl {
    Q_OBJECT
public:
    explicit TGraphicControl(TComponent* AOwner);
};
