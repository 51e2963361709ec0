#include "framework/Forms.h"

#include "framework/StdCtrls.h"
#include "framework/Threads.h"

#include <QAbstractEventDispatcher>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>
#include <QTextEdit>
#include <algorithm>
#include <cstdio>

TApplication* Application = nullptr;
static TScreen gScreen;
TScreen* Screen = &gScreen;

// --- TForm ---------------------------------------------------------------------------------------

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner) {
    FIsForm = true;
    FVisible = false;
    SetParentFont(false);
    SetParentColor(false);
    SetColor(clBtnFace);
    UpdateWindowFlags();
}

TForm::~TForm() = default;

void TForm::BeforeDestruction() {
    OnDestroy(this);
}

void TForm::UpdateWindowFlags() {
    if (FParent) return;
    // A dialog border makes a dialog window: window managers then offer close only (no minimise
    // or maximise), as the border style asks.
    Qt::WindowFlags f = FBorderStyle == bsDialog ? Qt::Dialog : Qt::Window;
    switch (FBorderStyle) {
    case bsNone:
        f |= Qt::FramelessWindowHint;
        break;
    case bsDialog:
    case bsSingle:
    case bsToolWindow:
        f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint;
        if (FBorderIcons & biSystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (FBorderStyle == bsSingle && (FBorderIcons & biMinimize))
            f |= Qt::WindowMinimizeButtonHint;
        break;
    default:
        f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (FBorderIcons & biSystemMenu) f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (FBorderIcons & biMinimize) f |= Qt::WindowMinimizeButtonHint;
        if (FBorderIcons & biMaximize) f |= Qt::WindowMaximizeButtonHint;
        break;
    }
    const bool shown = !isHidden();
    setWindowFlags(f);
    ApplyGeometry();
    if (shown) QWidget::setVisible(true);
}

bool TForm::FixedSize() const {
    return !FParent && (FBorderStyle == bsDialog || FBorderStyle == bsSingle ||
                        FBorderStyle == bsToolWindow || FBorderStyle == bsNone);
}

void TForm::ApplyGeometry() {
    // A dialog-style window keeps the size the program gives it; the user cannot resize it.
    if (FixedSize()) {
        setMinimumSize(FWidth, FHeight);
        setMaximumSize(FWidth, FHeight);
    } else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    TWinControl::ApplyGeometry();
}

void TForm::SetBorderStyle(TFormBorderStyle v) {
    if (v == FBorderStyle) return;
    FBorderStyle = v;
    UpdateWindowFlags();
}

void TForm::SetBorderIcons(TBorderIcons v) {
    if (v == FBorderIcons) return;
    FBorderIcons = v;
    UpdateWindowFlags();
}

void TForm::SetParent(TWinControl* parent) {
    if (parent == FParent) return;
    if (parent) {
        // Docked: an ordinary child without window decoration or size limits.
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        TWinControl::SetParent(parent);
    } else {
        TWinControl::SetParent(nullptr);
        UpdateWindowFlags();
    }
}

void TForm::Show() {
    if (!FParent && !FPositioned && FPosition != poDesigned && FPosition != poDefault) {
        FPositioned = true;
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            const QRect a = s->availableGeometry();
            SetBounds(a.left() + (a.width() - FWidth) / 2, a.top() + (a.height() - FHeight) / 2,
                      FWidth, FHeight);
        }
    }
    SetVisible(true);
    BringToFront();
    if (!FParent) activateWindow();
}

bool TForm::CloseQuery() {
    bool canClose = true;
    OnCloseQuery(this, canClose);
    return canClose;
}

void TForm::Close() {
    if (FClosing) return;
    FClosing = true;
    struct Reset {
        bool& f;
        ~Reset() { f = false; }
    } reset{FClosing};
    if (!CloseQuery()) return;
    TCloseAction action = caHide;
    DoClose(action);
    if (action == caNone) return;
    if (Application && Application->MainForm() == this) {
        Hide();
        Application->Terminate();
        return;
    }
    switch (action) {
    case caHide:
        Hide();
        break;
    case caMinimize:
        showMinimized();
        break;
    case caFree:
        Hide();
        QMetaObject::invokeMethod(
            this, [this] { Free(); }, Qt::QueuedConnection);
        break;
    default:
        break;
    }
}

void TForm::DoClose(TCloseAction& action) {
    OnClose(this, action);
}
void TForm::DoCreate() {
    OnCreate(this);
}
void TForm::DoShow() {
    OnShow(this);
}
void TForm::DoHide() {
    OnHide(this);
}

void TForm::TextChanged() {
    setWindowTitle(Caption());
    TWinControl::TextChanged();
}

namespace {
void CollectTabChain(TWinControl* parent, std::vector<TWinControl*>& chain) {
    std::vector<TWinControl*> children;
    for (TControl* c : parent->ControlList())
        if (auto* w = dynamic_cast<TWinControl*>(c); w && w->Visible() && w->Enabled())
            children.push_back(w);
    std::stable_sort(children.begin(), children.end(),
                     [](TWinControl* a, TWinControl* b) { return a->TabOrder() < b->TabOrder(); });
    for (TWinControl* w : children) {
        if (w->TabStop() && w->CanFocus()) chain.push_back(w);
        CollectTabChain(w, chain);
    }
}
} // namespace

std::vector<TWinControl*> TForm::TabChain() {
    std::vector<TWinControl*> chain;
    CollectTabChain(this, chain);
    return chain;
}

bool TForm::focusNextPrevChild(bool next) {
    // Qt would follow its own focus chain, which keeps the order the widgets were made in and
    // holds the wrapped controls beside their inner widgets; a docked page asks its window.
    if (!isWindow()) return TWinControl::focusNextPrevChild(next);
    const std::vector<TWinControl*> chain = TabChain();
    if (chain.empty()) return false;
    const QWidget* focus = QApplication::focusWidget();
    int at = -1;
    for (std::size_t i = 0; i < chain.size(); ++i)
        if (focus && (chain[i] == focus || chain[i]->isAncestorOf(focus)))
            at = static_cast<int>(i); // the innermost control holding the focus
    const int n = static_cast<int>(chain.size());
    const int to = at < 0 ? (next ? 0 : n - 1) : (at + (next ? 1 : n - 1)) % n;
    // As Qt's own Tab does: the window now shows where the keyboard focus is (styles draw the
    // focus frame only after a focus change made with the keyboard).
    setAttribute(Qt::WA_KeyboardFocusChange);
    chain[static_cast<std::size_t>(to)]->SetFocus();
    return true;
}

namespace {
// An editable text (an edit field, the text of an editable list) holds the keyboard: Escape
// there belongs to it and must not cancel the window.
bool InEditableText(const QWidget* w) {
    if (!w) return false;
    if (const auto* edit = qobject_cast<const QLineEdit*>(w)) return !edit->isReadOnly();
    if (const auto* combo = qobject_cast<const QComboBox*>(w)) return combo->isEditable();
    return qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QTextEdit*>(w) ||
           qobject_cast<const QPlainTextEdit*>(w);
}
} // namespace

void TForm::keyPressEvent(QKeyEvent* e) {
    if (isWindow() && e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        if (InEditableText(QApplication::focusWidget())) {
            e->accept();
            return;
        }
        for (TButton* b : findChildren<TButton*>())
            if (b->Cancel() && b->isVisible() && b->isEnabled()) {
                e->accept();
                b->Click();
                return;
            }
    }
    TWinControl::keyPressEvent(e);
}

void TForm::showEvent(QShowEvent* e) {
    TWinControl::showEvent(e);
    if (!e->spontaneous()) DoShow();
}

void TForm::hideEvent(QHideEvent* e) {
    TWinControl::hideEvent(e);
    if (!e->spontaneous()) DoHide();
}

void TForm::closeEvent(QCloseEvent* e) {
    // The title-bar close box: our own Close decides (and hides the window itself).
    e->ignore();
    Close();
}

// --- TApplication --------------------------------------------------------------------------------

TApplication::TApplication(TComponent* AOwner) : TNonVisualComponent(AOwner) {
    Application = this;
    QGuiApplication::setQuitOnLastWindowClosed(false);
    SetExceptionHandler([this](TObject* sender) { HandleException(sender); });
    if (auto* d = QAbstractEventDispatcher::instance())
        FIdleConnection =
            connect(d, &QAbstractEventDispatcher::aboutToBlock, this, [this] { DoIdle(); });
}

TApplication::~TApplication() {
    // The forms go while the application is still whole, newest first.
    Destroying();
    DestroyComponents();
    disconnect(FIdleConnection);
    SetExceptionHandler({});
    if (Application == this) Application = nullptr;
}

// The title captions the application's message boxes. It is not made Qt's display name, which
// the window system would append to every other window's caption.
void TApplication::SetTitle(const QString& title) {
    FTitle = title;
}

void TApplication::AddForm(TForm* f) {
    if (!FMainForm) FMainForm = f;
}

void TApplication::Run() {
    if (FTerminated) return;
    if (FMainForm && !FMainForm->Visible()) FMainForm->Show();
    if (FTerminated) return;
    FRunning = true;
    QApplication::exec();
    FRunning = false;
}

void TApplication::ProcessMessages() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TApplication::Terminate() {
    FTerminated = true;
    QCoreApplication::exit(0);
}

void TApplication::DoIdle() {
    if (FInIdle || !OnIdle) return;
    FInIdle = true;
    bool done = true;
    GuardedCall(this, [&] { OnIdle(this, done); });
    FInIdle = false;
    if (!done)
        QMetaObject::invokeMethod(
            this, [] {}, Qt::QueuedConnection); // wake up again
}

void TApplication::HandleException(TObject* sender) {
    const QString message = CurrentExceptionMessage();
    const QString className = CurrentExceptionClassName();
    if (!IsMainThread()) {
        // A worker or platform callback thread: the report (a message box) belongs to the main
        // thread; the sender is not passed on, it may be gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, message, className] {
                if (OnException)
                    OnException(nullptr, message);
                else
                    ShowException(message, className);
            },
            Qt::QueuedConnection);
        return;
    }
    if (OnException) {
        OnException(sender, message);
        return;
    }
    ShowException(message, className);
}

void TApplication::ShowException(const QString& message, const QString& className) {
    const QString plain = FExplainHook ? FExplainHook(className, message) : QString();
    if (plain.isEmpty()) {
        MessageBox(message, FTitle, MB_OK | MB_ICONERROR);
        return;
    }
    // The original words are for whoever looks into it: a terminal, a bug report.
    std::fprintf(stderr, "%s: %s\n", className.toUtf8().constData(), message.toUtf8().constData());
    MessageBox(plain, FTitle, MB_OK | MB_ICONERROR, message);
}

int TApplication::MessageBox(const QString& text, const QString& caption, int flags,
                             const QString& detail) {
    FMessageDetail = detail;
    const auto clear = qScopeGuard([this] { FMessageDetail.clear(); });
    if (FMessageBoxHook) return FMessageBoxHook(caption, text, flags);
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        std::fprintf(stderr, "[%s] %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
        return (flags & 0xF) == MB_YESNO ? IDYES : IDOK;
    }
    QMessageBox box(QMessageBox::NoIcon, caption, text);
    if (!detail.isEmpty()) box.setDetailedText(detail);
    if ((flags & 0xF0) == MB_ICONERROR)
        box.setIcon(QMessageBox::Critical);
    else if ((flags & 0xF0) == MB_ICONWARNING)
        box.setIcon(QMessageBox::Warning);
    else if ((flags & 0xF0) == MB_ICONINFORMATION)
        box.setIcon(QMessageBox::Information);
    switch (flags & 0xF) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    default:
        box.exec();
        return IDOK;
    }
}

// --- TScreen -------------------------------------------------------------------------------------

QCursor TScreen::CursorShape(TCursor c) const {
    return ::CursorShape(c);
}

void TScreen::SetCursorShape(TCursor index, const QCursor& cursor) {
    RegisterCursor(index, cursor);
}

bool TScreen::HasCursor(TCursor index) const {
    return CursorRegistered(index);
}

void TScreen::SetCursor(TCursor c) {
    if (c == FCursor) return;
    const bool had = FCursor != crDefault;
    FCursor = c;
    if (c == crDefault) {
        if (had) QGuiApplication::restoreOverrideCursor();
    } else if (had) {
        QGuiApplication::changeOverrideCursor(CursorShape(c));
    } else {
        QGuiApplication::setOverrideCursor(CursorShape(c));
    }
}

int TScreen::Width() const {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().width() : 0;
}
int TScreen::Height() const {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->geometry().height() : 0;
}
