#pragma once
// Standard controls the pages use. Button, check box and combo box wrap the matching Qt widget
// as an inner child that fills the control (so they look native and handle the "&" accelerator
// and keyboard themselves); label and group box paint themselves. Main thread.
#include "framework/Controls.h"

class QPushButton;
class QCheckBox;
class QComboBox;
class QLabel;

// A label: transparent or filled, word-wrapping, auto-sizing, "&" shown as an underline.
class TLabel : public TGraphicControl {
    Q_OBJECT
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
public:
    explicit TLabel(TComponent* AOwner);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool v);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool v);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool v);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment v);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout v);
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool v);
    // The control this label names: a screen reader says the label's text for it.
    TWinControl* FocusControl() const { return FFocusControl; }
    void SetFocusControl(TWinControl* control);

    // Static text with the caption ("&" markers removed).
    QAccessibleInterface* CreateAccessible() override;

protected:
    void Paint() override;
    void TextChanged() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;
    void FontChanged() override;
    void Loaded() override;
    void AdjustBounds();
    int TextFlags() const;

private:
    bool FWordWrap = false;
    bool FTransparent = false;
    bool FAutoSize = true;
    bool FShowAccelChar = true;
    TAlignment FAlignment = taLeftJustify;
    TTextLayout FLayout = tlTop;
    TWinControl* FFocusControl = nullptr;
};

// A caption without its "&" accelerator markers ("&&" is a literal "&"), as it is read aloud.
QString StripAccelChars(const QString& caption);

// A push button; OnClick runs on a user click, on its accelerator and on Click().
class TButton : public TWinControl {
    Q_OBJECT
public:
    explicit TButton(TComponent* AOwner);
    QPushButton* Widget() const { return FButton; }
    bool Default() const { return FDefault; }
    void SetDefault(bool v);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool v) { FCancel = v; }
    void SetEnabled(bool v) override;

protected:
    void TextChanged() override;
    void ApplyFontToWidget(const QFont& font) override;
    QWidget* FocusWidget() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    QPushButton* FButton;
    bool FDefault = false;
    bool FCancel = false;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

// A check box; setting Checked from the program also raises OnClick, as a user click does.
class TCheckBox : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
public:
    explicit TCheckBox(TComponent* AOwner);
    QCheckBox* Widget() const { return FBox; }
    bool Checked() const { return FState == cbChecked; }
    void SetChecked(bool v) { SetState(v ? cbChecked : cbUnchecked); }
    TCheckBoxState State() const { return FState; }
    virtual void SetState(TCheckBoxState s);
    bool AllowGrayed() const { return FAllowGrayed; }
    void SetAllowGrayed(bool v);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment v);

protected:
    virtual void Toggle(); // a user click
    void TextChanged() override;
    void ApplyFontToWidget(const QFont& font) override;
    QWidget* FocusWidget() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void Sync();
    QCheckBox* FBox;
    TCheckBoxState FState = cbUnchecked;
    bool FAllowGrayed = false;
    TAlignment FAlignment = taRightJustify;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

// A combo box; OnChange runs when the user picks an item (Change()), not when the program sets
// ItemIndex.
class TComboBox : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
public:
    explicit TComboBox(TComponent* AOwner);
    QComboBox* Widget() const { return FCombo; }
    TComboBoxStyle Style() const { return FStyle; }
    void SetStyle(TComboBoxStyle v);
    // Also names the edit field of an editable list, which takes the focus.
    void SetAccessibleName(const QString& name) override;
    QStringList Items() const;
    void SetItems(const QStringList& items); // keeps ItemIndex when still in range, else -1
    void AddItem(const QString& item);
    void Clear();
    int ItemCount() const;
    QString Item(int index) const;
    int ItemIndex() const;
    virtual void SetItemIndex(int index); // out of range: no selection (-1)
    int DropDownCount() const { return FDropDownCount; }
    void SetDropDownCount(int v);
    bool Sorted() const { return FSorted; }
    void SetSorted(bool v);
    int ItemHeight() const { return FItemHeight; }
    void SetItemHeight(int v) { FItemHeight = v; }

    TNotifyEvent OnChange;

protected:
    virtual void Change(); // the user picked an item: raises OnChange
    void ApplyFontToWidget(const QFont& font) override;
    QWidget* FocusWidget() override;
    void resizeEvent(QResizeEvent* e) override;
    void ColorChanged() override;

private:
    QComboBox* FCombo;
    QLabel* FNameLabel = nullptr; // names the list for screen readers (SetAccessibleName)
    TComboBoxStyle FStyle = csDropDown;
    int FDropDownCount = 8;
    bool FSorted = false;
    int FItemHeight = 13;
};

// A group box: an etched frame with its caption at the top left.
class TGroupBox : public TCustomControl {
    Q_OBJECT
public:
    explicit TGroupBox(TComponent* AOwner);

protected:
    void Paint() override;
    void AdjustClientRect(TRect& r) const override;
};
