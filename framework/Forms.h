#pragma once
// Forms, the application object and the screen.
//
// A form is a top-level window, or, with a Parent, a borderless page docked into a panel
// (SetParent(panel); SetAlign(alClient)). Its constructor builds its components inside the
// loading bracket:
//     TMyForm::TMyForm(TComponent* AOwner) : TForm(AOwner) {
//         BeginLoading();
//         SetBounds(...); Button1 = new TButton(this); Button1->SetParent(this); ...
//         OnCreate.Assign(this, &TMyForm::FormCreate);
//         EndLoading();
//     }
// and is created with Application->CreateForm(ref) (or CreateForm<T>(owner) in tests), which
// sets the reference and then runs OnCreate. The first form created by the application is the
// main window: closing it ends the message loop. All main thread.
#include "framework/Controls.h"

#include <QCursor>
#include <QMap>
#include <QPointer>

class QAbstractEventDispatcher;

enum TPosition { poDesigned, poDefault, poScreenCenter, poDesktopCenter, poMainFormCenter };
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = unsigned;

using TCloseEvent = TEvent<TObject*, TCloseAction&>;
using TCloseQueryEvent = TEvent<TObject*, bool&>;

class TForm : public TWinControl {
    Q_OBJECT
public:
    explicit TForm(TComponent* AOwner);
    ~TForm() override;

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle v);
    TBorderIcons BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(TBorderIcons v);
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition v) { FPosition = v; }
    void SetParent(TWinControl* parent) override;

    // Shows the form (OnShow runs when it becomes visible) and brings it to the front.
    void Show();
    void Hide() { SetVisible(false); }
    // Asks OnCloseQuery, runs OnClose (action caHide by default) and hides the form; closing the
    // main form ends the application's message loop. The title-bar close box does the same.
    void Close();
    bool CloseQuery();

    // Runs OnCreate; called by CreateForm once the form's reference is set.
    void DoCreate();
    // The controls Tab visits, in order: each level's windowed children by tab order (then by
    // child order), a control before the ones inside it, only those that stop the tab and can
    // take the focus.
    std::vector<TWinControl*> TabChain();

    TNotifyEvent OnCreate, OnDestroy, OnShow, OnHide, OnActivate;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

protected:
    void BeforeDestruction() override; // OnDestroy
    virtual void DoShow();
    virtual void DoHide();
    virtual void DoClose(TCloseAction& action);
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    // The caption is the window's title (title bar and taskbar).
    void TextChanged() override;
    // Tab and Shift+Tab in a window walk its controls that stop the tab, containers and docked
    // pages included, by their tab orders, and wrap (TabChain).
    bool focusNextPrevChild(bool next) override;
    // Escape in a window presses its cancel button (TButton::Cancel), as in dialogs.
    void keyPressEvent(QKeyEvent* e) override;
    void UpdateWindowFlags();
    void ApplyGeometry() override;
    bool FixedSize() const;

private:
    TFormBorderStyle FBorderStyle = bsSizeable;
    TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition FPosition = poDesigned;
    bool FPositioned = false;
    bool FClosing = false;
};

// Creates a form, runs its OnCreate and returns it (tests and secondary forms).
template <class T> T* CreateForm(TComponent* owner) {
    T* f = new T(owner);
    f->DoCreate();
    return f;
}

using TExceptionEvent = TEvent<TObject*, const QString&>;
using TIdleEvent = TEvent<TObject*, bool&>;

// The message box hook: (caption, text, flags) -> answer. Tests install a recorder.
enum : int {
    MB_OK = 0,
    MB_OKCANCEL = 1,
    MB_YESNO = 4,
    MB_ICONERROR = 0x10,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };
using TMessageBoxHook = std::function<int(const QString& caption, const QString& text, int flags)>;

class TApplication : public TNonVisualComponent {
    Q_OBJECT
public:
    // Needs a QApplication. Sets the global Application and installs the exception handler.
    explicit TApplication(TComponent* AOwner = nullptr);
    ~TApplication() override;

    void Initialize() {}
    QString Title() const { return FTitle; }
    void SetTitle(const QString& title);
    // Whether the main window shows on the taskbar itself (always so here; kept for start-up).
    bool MainFormOnTaskBar() const { return FMainFormOnTaskBar; }
    void SetMainFormOnTaskBar(bool v) { FMainFormOnTaskBar = v; }

    // Creates a form owned by the application, sets ref, runs OnCreate; the first becomes the
    // main form.
    template <class T> T* CreateForm(T*& ref) {
        ref = nullptr;
        T* f = new T(this);
        ref = f;
        AddForm(f);
        f->DoCreate();
        return f;
    }
    TForm* MainForm() const { return FMainForm; }
    void SetMainForm(TForm* f) { FMainForm = f; }

    // The message loop: shows the main form and runs until Terminate (or the main form closes).
    void Run();
    // Delivers waiting events and posted messages, then returns.
    void ProcessMessages();
    void Terminate();
    bool Terminated() const { return FTerminated; }

    // The default exception handler (for the exception being handled; call inside catch):
    // raises OnException when assigned, otherwise shows the message in a message box. Called on
    // another thread, it hands the message to the main thread and returns at once.
    void HandleException(TObject* sender);
    // Shows a failure: in the words of the explain hook when it has some for it (the original
    // text then goes to the box's details and to standard error), else the text as it is.
    void ShowException(const QString& message, const QString& className = QString());
    // A message box through the hook. Without a hook it is modal on a real display and only
    // logged on the offscreen platform, so headless runs never block. The detail, when given,
    // is the box's detailed text; MessageDetail() holds it while the box (or the hook) runs.
    int MessageBox(const QString& text, const QString& caption, int flags = MB_OK,
                   const QString& detail = QString());
    void SetMessageBoxHook(TMessageBoxHook hook) { FMessageBoxHook = std::move(hook); }
    QString MessageDetail() const { return FMessageDetail; }
    // Turns a failure (exception class name, message) into what a person should read; an empty
    // answer keeps the message as it is. The program's own words live above the libraries.
    using TExplainHook = std::function<QString(const QString& className, const QString& message)>;
    void SetExplainHook(TExplainHook hook) { FExplainHook = std::move(hook); }

    TExceptionEvent OnException;
    TIdleEvent OnIdle; // when the message queue has run dry; set Done false to be called again

private:
    void AddForm(TForm* f);
    void DoIdle();
    QString FTitle;
    bool FMainFormOnTaskBar = true;
    QPointer<TForm> FMainForm;
    bool FTerminated = false;
    bool FInIdle = false;
    bool FRunning = false;
    TMessageBoxHook FMessageBoxHook;
    TExplainHook FExplainHook;
    QString FMessageDetail;
    QMetaObject::Connection FIdleConnection;
};

extern TApplication* Application;

// Screen: registered cursors and the global cursor override (hour-glass).
class TScreen {
public:
    // The cursor table of the controls (CursorShape, RegisterCursor, CursorRegistered).
    QCursor CursorShape(TCursor c) const;
    void SetCursorShape(TCursor index, const QCursor& cursor); // registers a program cursor
    bool HasCursor(TCursor index) const;
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor c); // crDefault removes the override
    int Width() const;
    int Height() const;
    int PixelsPerInch() const { return 96; }

private:
    TCursor FCursor = crDefault;
};
extern TScreen* Screen;
