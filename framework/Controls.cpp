#include "framework/Controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QChildEvent>
#include <QCursor>
#include <QMap>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>

// --- keys ----------------------------------------------------------------------------------------

WORD QtKeyToVirtualKey(int k) {
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return static_cast<WORD>('A' + (k - Qt::Key_A));
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return static_cast<WORD>('0' + (k - Qt::Key_0));
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12) return static_cast<WORD>(VK_F1 + (k - Qt::Key_F1));
    switch (k) {
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Tab:
        return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    case Qt::Key_Alt:
        return VK_MENU;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_PageUp:
        return VK_PRIOR;
    case Qt::Key_PageDown:
        return VK_NEXT;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Insert:
        return VK_INSERT;
    case Qt::Key_Delete:
        return VK_DELETE;
    default:
        return 0;
    }
}

int VirtualKeyToQtKey(WORD vk) {
    if (vk >= 'A' && vk <= 'Z') return Qt::Key_A + (vk - 'A');
    if (vk >= '0' && vk <= '9') return Qt::Key_0 + (vk - '0');
    if (vk >= VK_F1 && vk <= VK_F12) return Qt::Key_F1 + (vk - VK_F1);
    switch (vk) {
    case VK_BACK:
        return Qt::Key_Backspace;
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_RETURN:
        return Qt::Key_Return;
    case VK_SHIFT:
        return Qt::Key_Shift;
    case VK_CONTROL:
        return Qt::Key_Control;
    case VK_MENU:
        return Qt::Key_Alt;
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case VK_SPACE:
        return Qt::Key_Space;
    case VK_PRIOR:
        return Qt::Key_PageUp;
    case VK_NEXT:
        return Qt::Key_PageDown;
    case VK_END:
        return Qt::Key_End;
    case VK_HOME:
        return Qt::Key_Home;
    case VK_LEFT:
        return Qt::Key_Left;
    case VK_UP:
        return Qt::Key_Up;
    case VK_RIGHT:
        return Qt::Key_Right;
    case VK_DOWN:
        return Qt::Key_Down;
    case VK_INSERT:
        return Qt::Key_Insert;
    case VK_DELETE:
        return Qt::Key_Delete;
    default:
        return 0;
    }
}

// --- TControl ------------------------------------------------------------------------------------

namespace {
// Qt asks once per class of the object's hierarchy, most derived first; the control answers for
// all of them.
QAccessibleInterface* ControlAccessible(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    auto* control = dynamic_cast<TControl*>(widget);
    return control ? control->CreateAccessible() : nullptr;
}
} // namespace

TControl::TControl(TComponent* AOwner)
    : QWidget(nullptr), TComponent(AOwner), FFont(std::make_unique<TFont>()),
      FCanvas(std::make_unique<TCanvas>()) {
    setAttribute(Qt::WA_WState_Hidden); // nothing shows before it has a parent (or is a form)
    static const bool accessibleFactory = (QAccessible::installFactory(&ControlAccessible), true);
    (void)accessibleFactory;
    FFont->OnChange = [this](TObject*) { FontObjectChanged(); };
    setFocusPolicy(Qt::NoFocus);
    FontChanged();
    ColorChanged();
}

TControl::~TControl() {
    Destroying();
    TWinControl* parent = FParent;
    FParent = nullptr;
    if (parent && !parent->IsDestroying()) {
        setParent(nullptr);
        parent->Realign();
    }
}

void TControl::SetName(const QString& name) {
    TComponent::SetName(name);
    setObjectName(name);
}

void TControl::Loaded() {
    TComponent::Loaded();
    ParentChanged();
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == FParent) return;
    for (const QWidget* w = parent; w; w = w->parentWidget())
        if (w == this)
            throw EInvalidOperation(QStringLiteral("A control cannot be its own parent"));
    TWinControl* old = FParent;
    FParent = parent;
    QWidget::setParent(parent);
    ApplyGeometry();
    if (parent && FVisible) QWidget::setVisible(true);
    if (parent) {
        if (auto* w = dynamic_cast<TWinControl*>(this); w && w->FTabOrder < 0) {
            int n = 0;
            for (TControl* c : parent->ControlList())
                if (c != this && dynamic_cast<TWinControl*>(c)) ++n;
            w->FTabOrder = n;
        }
        ParentChanged();
        parent->UpdateTabChain();
        parent->Realign(this);
    }
    if (old && !old->IsDestroying()) old->Realign();
}

void TControl::ConstrainedResize(int& width, int& height) {
    if (FConstraints.MinWidth > 0) width = std::max(width, FConstraints.MinWidth);
    if (FConstraints.MaxWidth > 0) width = std::min(width, FConstraints.MaxWidth);
    if (FConstraints.MinHeight > 0) height = std::max(height, FConstraints.MinHeight);
    if (FConstraints.MaxHeight > 0) height = std::min(height, FConstraints.MaxHeight);
}

void TControl::SetConstraints(const TSizeConstraints& c) {
    FConstraints = c;
    SetBounds(FLeft, FTop, FWidth, FHeight);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    ConstrainedResize(width, height);
    if (left == FLeft && top == FTop && width == FWidth && height == FHeight &&
        geometry() == QRect(left, top, width, height))
        return;
    const bool resized = width != FWidth || height != FHeight;
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    ApplyGeometry();
    if (resized) {
        Resize();
        if (auto* w = dynamic_cast<TWinControl*>(this)) w->Realign();
    }
    RequestParentAlign();
}

void TControl::SetClientSize(int w, int h) {
    const TRect c = ClientRect();
    SetBounds(FLeft, FTop, FWidth + (w - c.Width()), FHeight + (h - c.Height()));
}

void TControl::ApplyGeometry() {
    const QRect r(FLeft, FTop, FWidth, FHeight);
    if (geometry() != r) QWidget::setGeometry(r);
}

void TControl::RequestParentAlign() {
    if (FParent && FAlign != alNone) FParent->Realign(this);
}

void TControl::SetAlign(TAlign a) {
    if (a == FAlign) return;
    FAlign = a;
    if (FParent) FParent->Realign(this);
}

void TControl::SetVisible(bool v) {
    const bool changed = v != FVisible;
    FVisible = v;
    // A control without a parent stays hidden (it would become a window of its own); it shows
    // with its wish once it gets one. Forms are windows themselves.
    if (FParent || FIsForm) QWidget::setVisible(v);
    if (changed) {
        VisibleChanged();
        if (FParent) FParent->Realign(this);
    }
}

void TControl::SetEnabled(bool v) {
    if (v == FEnabled) return;
    FEnabled = v;
    QWidget::setEnabled(v);
    EnabledChanged();
}

void TControl::SetCaption(const QString& v) {
    if (v == FCaption) return;
    FCaption = v;
    TextChanged();
}

void TControl::SetHint(const QString& v) {
    FHint = v;
    setToolTip(v);
}

void TControl::SetColor(TColor c) {
    FParentColor = false;
    if (c == FColor) return;
    FColor = c;
    ColorChanged();
    if (auto* w = dynamic_cast<TWinControl*>(this))
        for (TControl* child : w->ControlList())
            if (child->FParentColor) child->ParentChanged();
}

void TControl::SetParentColor(bool v) {
    FParentColor = v;
    if (v) ParentChanged();
}

void TControl::SetParentFont(bool v) {
    FParentFont = v;
    if (v) ParentChanged();
}

void TControl::ParentChanged() {
    if (!FParent) return;
    if (FParentFont && !(*FFont == *FParent->Font())) {
        FApplyingParent = true;
        FFont->Assign(FParent->Font());
        FApplyingParent = false;
    }
    if (FParentColor && FColor != FParent->Color()) {
        FColor = FParent->Color();
        ColorChanged();
        if (auto* w = dynamic_cast<TWinControl*>(this))
            for (TControl* child : w->ControlList())
                if (child->FParentColor) child->ParentChanged();
    }
}

void TControl::FontObjectChanged() {
    if (!FApplyingParent) FParentFont = false;
    FontChanged();
    if (auto* w = dynamic_cast<TWinControl*>(this))
        for (TControl* child : w->ControlList())
            if (child->FParentFont) child->ParentChanged();
}

void TControl::FontChanged() {
    FCanvas->Font()->Assign(FFont.get());
    ApplyFontToWidget(FFont->ToQFont());
    Invalidate();
}

void TControl::ApplyFontToWidget(const QFont& font) {
    setFont(font);
    QPalette pal = palette();
    const QColor c = ToQColor(FFont->Color());
    // Active and inactive only: disabled text keeps the style's grey.
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::WindowText, c);
        pal.setColor(group, QPalette::ButtonText, c);
        pal.setColor(group, QPalette::Text, c);
    }
    setPalette(pal);
}

void TControl::ColorChanged() {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(FColor));
    setPalette(pal);
    FCanvas->Brush()->SetColor(FColor);
    Invalidate();
}

void TControl::SetOpaque(bool v) {
    FOpaque = v;
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    Invalidate();
}

// ---- The cursor table ---------------------------------------------------------------------------

namespace {
QMap<int, QCursor>& RegisteredCursors() {
    static QMap<int, QCursor> cursors;
    return cursors;
}
} // namespace

QCursor CursorShape(TCursor c) {
    const auto& registered = RegisteredCursors();
    if (auto it = registered.find(c); it != registered.end()) return *it;
    switch (c) {
    case crNone:
        return QCursor(Qt::BlankCursor);
    case crCross:
        return QCursor(Qt::CrossCursor);
    case crIBeam:
        return QCursor(Qt::IBeamCursor);
    case crSizeNESW:
        return QCursor(Qt::SizeBDiagCursor);
    case crSizeNS:
        return QCursor(Qt::SizeVerCursor);
    case crSizeNWSE:
        return QCursor(Qt::SizeFDiagCursor);
    case crSizeWE:
        return QCursor(Qt::SizeHorCursor);
    case crUpArrow:
        return QCursor(Qt::UpArrowCursor);
    case crHourGlass:
    case crSQLWait:
        return QCursor(Qt::WaitCursor);
    case crDrag:
    case crMultiDrag:
        return QCursor(Qt::DragCopyCursor);
    case crNoDrop:
    case crNo:
        return QCursor(Qt::ForbiddenCursor);
    case crHSplit:
        return QCursor(Qt::SplitHCursor);
    case crVSplit:
        return QCursor(Qt::SplitVCursor);
    case crAppStart:
        return QCursor(Qt::BusyCursor);
    case crHelp:
        return QCursor(Qt::WhatsThisCursor);
    case crHandPoint:
        return QCursor(Qt::PointingHandCursor);
    case crSizeAll:
        return QCursor(Qt::SizeAllCursor);
    default:
        return QCursor(Qt::ArrowCursor);
    }
}

void RegisterCursor(TCursor c, const QCursor& shape) {
    RegisteredCursors().insert(c, shape);
}

bool CursorRegistered(TCursor c) {
    return RegisteredCursors().contains(c);
}

void TControl::SetCursor(TCursor c) {
    FCursor = c;
    if (c == crDefault)
        unsetCursor();
    else
        setCursor(CursorShape(c));
}

void TControl::BringToFront() {
    raise();
}
void TControl::SendToBack() {
    lower();
}

TPoint TControl::ClientToScreen(TPoint p) const {
    const QPoint q = mapToGlobal(QPoint(p.X, p.Y));
    return {q.x(), q.y()};
}
TPoint TControl::ScreenToClient(TPoint p) const {
    const QPoint q = mapFromGlobal(QPoint(p.X, p.Y));
    return {q.x(), q.y()};
}

void TControl::Click() {
    OnClick(this);
}
void TControl::DblClick() {
    OnDblClick(this);
}
void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    OnMouseDown(this, button, shift, x, y);
}
void TControl::MouseMove(TShiftState shift, int x, int y) {
    OnMouseMove(this, shift, x, y);
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    OnMouseUp(this, button, shift, x, y);
}
void TControl::MouseEnter() {
    OnMouseEnter(this);
}
void TControl::MouseLeave() {
    OnMouseLeave(this);
}
void TControl::Resize() {
    OnResize(this);
}

TShiftState TControl::ShiftFromQt(Qt::KeyboardModifiers mods, Qt::MouseButtons buttons) {
    TShiftState s = 0;
    if (mods & Qt::ShiftModifier) s |= ssShift;
    if (mods & Qt::AltModifier) s |= ssAlt;
    if (mods & Qt::ControlModifier) s |= ssCtrl;
    if (buttons & Qt::LeftButton) s |= ssLeft;
    if (buttons & Qt::RightButton) s |= ssRight;
    if (buttons & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

static bool ToMouseButton(Qt::MouseButton b, TMouseButton& out) {
    switch (b) {
    case Qt::LeftButton:
        out = mbLeft;
        return true;
    case Qt::RightButton:
        out = mbRight;
        return true;
    case Qt::MiddleButton:
        out = mbMiddle;
        return true;
    default:
        return false;
    }
}

bool TControl::event(QEvent* e) {
    try {
        return QWidget::event(e);
    } catch (...) {
        // Program code behind this event failed: report it and keep the loop running.
        HandleException(this);
        return true;
    }
}

void TControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (FOpaque) painter.fillRect(rect(), ToQColor(FColor));
    FCanvas->BeginPaint(&painter);
    struct End {
        TCanvas* c;
        ~End() { c->EndPaint(); }
    } end{FCanvas.get()};
    FCanvas->Font()->Assign(FFont.get());
    FCanvas->Brush()->SetColor(FColor);
    FCanvas->Pen()->SetColor(clBlack);
    FCanvas->Pen()->SetWidth(1);
    FCanvas->Pen()->SetStyle(psSolid);
    FCanvas->Pen()->SetMode(pmCopy);
    Paint();
}

void TControl::mousePressEvent(QMouseEvent* e) {
    TMouseButton b;
    if (!ToMouseButton(e->button(), b)) return;
    if (b == mbLeft) FPressed = true;
    const QPoint p = e->position().toPoint();
    MouseDown(b, ShiftFromQt(e->modifiers(), e->buttons()), p.x(), p.y());
}

void TControl::mouseMoveEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    MouseMove(ShiftFromQt(e->modifiers(), e->buttons()), p.x(), p.y());
}

void TControl::mouseReleaseEvent(QMouseEvent* e) {
    TMouseButton b;
    if (!ToMouseButton(e->button(), b)) return;
    const QPoint p = e->position().toPoint();
    const bool click = b == mbLeft && FPressed && rect().contains(p);
    if (b == mbLeft) FPressed = false;
    // A handler may free this control (a page that closes itself): nothing more reaches it.
    const QPointer<TControl> alive(this);
    MouseUp(b, ShiftFromQt(e->modifiers(), e->buttons()), p.x(), p.y());
    if (click && alive) Click();
}

void TControl::mouseDoubleClickEvent(QMouseEvent* e) {
    TMouseButton b;
    if (!ToMouseButton(e->button(), b)) return;
    const QPoint p = e->position().toPoint();
    if (b == mbLeft) FPressed = true;
    const QPointer<TControl> alive(this);
    MouseDown(b, ShiftFromQt(e->modifiers(), e->buttons()) | ssDouble, p.x(), p.y());
    if (b == mbLeft && alive) DblClick();
}

void TControl::enterEvent(QEnterEvent*) {
    MouseEnter();
}
void TControl::leaveEvent(QEvent*) {
    MouseLeave();
}

void TControl::resizeEvent(QResizeEvent*) {
    // Sizes set by the window system (a top-level form) arrive here; our own SetBounds has
    // already recorded them.
    if (width() == FWidth && height() == FHeight) return;
    FWidth = width();
    FHeight = height();
    Resize();
    if (auto* w = dynamic_cast<TWinControl*>(this)) w->Realign();
}

void TControl::moveEvent(QMoveEvent*) {
    if (FIsForm && !FParent) {
        FLeft = x();
        FTop = y();
    }
}

// --- TWinControl ---------------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {
    SetOpaque(true); // a window fills its Color behind what it paints
    UpdateFocusPolicy();
}

TWinControl::~TWinControl() {
    // Owned components go first, newest first, while this control is still whole; then any
    // child controls that someone else owns.
    Destroying();
    DestroyComponents();
    for (TControl* c : ControlList()) {
        c->FParent = nullptr;
        c->Free();
    }
}

std::vector<TControl*> TWinControl::ControlList() const {
    std::vector<TControl*> list;
    for (QObject* o : children())
        if (auto* c = dynamic_cast<TControl*>(o); c && c->FParent == this) list.push_back(c);
    return list;
}

int TWinControl::ControlCount() const {
    return static_cast<int>(ControlList().size());
}
TControl* TWinControl::Controls(int index) const {
    return ControlList().at(index);
}

void TWinControl::SetTabOrder(int v) {
    FTabOrder = v;
    if (FParent) FParent->UpdateTabChain();
}

void TWinControl::SetAccessibleName(const QString& name) {
    setAccessibleName(name);
    if (QWidget* f = FocusWidget(); f != this) f->setAccessibleName(name);
}

void TWinControl::SetTabStop(bool v) {
    if (v == FTabStop) return;
    FTabStop = v;
    UpdateFocusPolicy();
}

void TWinControl::UpdateFocusPolicy() {
    // A wrapped Qt control takes the focus in its inner widget. Qt passes a widget's focus
    // policy on to its focus proxy, so the proxy is set first and both get the same policy
    // (Tab navigation skips widgets that have a proxy).
    QWidget* f = FocusWidget();
    if (f != this) setFocusProxy(f);
    setFocusPolicy(FTabStop ? Qt::StrongFocus : Qt::NoFocus);
    f->setFocusPolicy(FTabStop ? Qt::StrongFocus : Qt::NoFocus);
}

void TWinControl::UpdateTabChain() {
    std::vector<TWinControl*> list;
    for (TControl* c : ControlList())
        if (auto* w = dynamic_cast<TWinControl*>(c)) list.push_back(w);
    std::stable_sort(list.begin(), list.end(),
                     [](TWinControl* a, TWinControl* b) { return a->FTabOrder < b->FTabOrder; });
    for (size_t i = 1; i < list.size(); ++i)
        QWidget::setTabOrder(list[i - 1]->FocusWidget(), list[i]->FocusWidget());
}

bool TWinControl::CanFocus() const {
    for (const TControl* c = this; c; c = c->Parent())
        if (!c->Visible() || !c->Enabled()) return false;
    return true;
}

bool TWinControl::Focused() const {
    return hasFocus();
}

void TWinControl::SetFocus() {
    if (!CanFocus())
        throw EInvalidOperation(QStringLiteral("Cannot focus a disabled or invisible window"));
    FocusWidget()->setFocus(Qt::OtherFocusReason);
}

void TWinControl::EnableAlign() {
    if (FAlignDisabled > 0 && --FAlignDisabled == 0 && FAlignPending) Realign();
}

void TWinControl::Loaded() {
    TControl::Loaded();
    Realign();
}

void TWinControl::Realign(TControl* trigger) {
    if (FAlignDisabled > 0 || FAligning || IsLoading() || IsDestroying()) {
        FAlignPending = true;
        return;
    }
    FAlignPending = false;
    FAligning = true;
    struct Reset {
        bool& f;
        ~Reset() { f = false; }
    } reset{FAligning};
    TRect r = ClientRect();
    AdjustClientRect(r);
    AlignControls(trigger, r);
}

void TWinControl::AlignControls(TControl* trigger, TRect& r) {
    const std::vector<TControl*> all = ControlList();
    auto place = [&](TAlign kind) {
        std::vector<TControl*> list;
        for (TControl* c : all)
            if (c->Align() == kind && c->FVisible) list.push_back(c);
        auto key = [kind](TControl* c) {
            switch (kind) {
            case alTop:
                return c->Top();
            case alBottom:
                return -(c->Top() + c->Height());
            case alLeft:
                return c->Left();
            case alRight:
                return -(c->Left() + c->Width());
            default:
                return 0;
            }
        };
        std::stable_sort(list.begin(), list.end(), [&](TControl* a, TControl* b) {
            if (key(a) != key(b)) return key(a) < key(b);
            return a == trigger && b != trigger;
        });
        for (TControl* c : list) {
            switch (kind) {
            case alTop:
                c->SetBounds(r.Left, r.Top, r.Width(), c->Height());
                r.Top += c->Height();
                break;
            case alBottom:
                c->SetBounds(r.Left, r.Bottom - c->Height(), r.Width(), c->Height());
                r.Bottom -= c->Height();
                break;
            case alLeft:
                c->SetBounds(r.Left, r.Top, c->Width(), r.Height());
                r.Left += c->Width();
                break;
            case alRight:
                c->SetBounds(r.Right - c->Width(), r.Top, c->Width(), r.Height());
                r.Right -= c->Width();
                break;
            case alClient:
                c->SetBounds(r.Left, r.Top, r.Width(), r.Height());
                break;
            default:
                break;
            }
        }
    };
    for (TAlign kind : {alTop, alBottom, alLeft, alRight, alClient})
        place(kind);
}

void TWinControl::DoEnter() {
    OnEnter(this);
}
void TWinControl::DoExit() {
    OnExit(this);
}
void TWinControl::KeyDown(WORD& key, TShiftState shift) {
    OnKeyDown(this, key, shift);
}
void TWinControl::KeyUp(WORD& key, TShiftState shift) {
    OnKeyUp(this, key, shift);
}

void TWinControl::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    DoEnter();
}
void TWinControl::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    DoExit();
}

void TWinControl::keyPressEvent(QKeyEvent* e) {
    WORD key = QtKeyToVirtualKey(e->key());
    if (key == 0) {
        QWidget::keyPressEvent(e);
        return;
    }
    KeyDown(key, ShiftFromQt(e->modifiers(), Qt::NoButton));
    if (key == 0)
        e->accept();
    else
        QWidget::keyPressEvent(e);
}

void TWinControl::keyReleaseEvent(QKeyEvent* e) {
    WORD key = QtKeyToVirtualKey(e->key());
    if (key == 0) {
        QWidget::keyReleaseEvent(e);
        return;
    }
    KeyUp(key, ShiftFromQt(e->modifiers(), Qt::NoButton));
    if (key == 0)
        e->accept();
    else
        QWidget::keyReleaseEvent(e);
}

void TWinControl::resizeEvent(QResizeEvent* e) {
    TControl::resizeEvent(e);
}

void TWinControl::childEvent(QChildEvent* e) {
    QWidget::childEvent(e);
    if (e->removed() && !IsDestroying() && !FAligning) FAlignPending = true;
}

// --- TCustomControl / TGraphicControl
// -------------------------------------------------------------

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {
    SetOpaque(true);
}

TGraphicControl::TGraphicControl(TComponent* AOwner) : TControl(AOwner) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoSystemBackground);
}
