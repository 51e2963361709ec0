#include "framework/StdCtrls.h"

#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

// "&Next" -> "Next" (with "&&" kept as "&"), for measuring and drawing without a mnemonic.
QString StripAccelChars(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '&' && i + 1 < s.size()) {
            ++i;
        }
        out += s[i];
    }
    return out;
}

// --- TLabel --------------------------------------------------------------------------------------

TLabel::TLabel(TComponent* AOwner) : TGraphicControl(AOwner) {
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetWordWrap(bool v) {
    if (v == FWordWrap) return;
    FWordWrap = v;
    AdjustBounds();
    update();
}
void TLabel::SetTransparent(bool v) {
    if (v == FTransparent) return;
    FTransparent = v;
    update();
}
void TLabel::SetAutoSize(bool v) {
    if (v == FAutoSize) return;
    FAutoSize = v;
    AdjustBounds();
}
void TLabel::SetAlignment(TAlignment v) {
    FAlignment = v;
    update();
}
void TLabel::SetLayout(TTextLayout v) {
    FLayout = v;
    update();
}
void TLabel::SetShowAccelChar(bool v) {
    FShowAccelChar = v;
    AdjustBounds();
    update();
}

void TLabel::TextChanged() {
    AdjustBounds();
    update();
    if (FFocusControl) FFocusControl->SetAccessibleName(StripAccelChars(Caption()));
}

void TLabel::SetFocusControl(TWinControl* control) {
    if (control == FFocusControl) return;
    if (FFocusControl) FFocusControl->RemoveFreeNotification(this);
    FFocusControl = control;
    if (!control) return;
    control->FreeNotification(this);
    control->SetAccessibleName(StripAccelChars(Caption()));
}

void TLabel::Notification(TComponent* AComponent, TOperation Operation) {
    TGraphicControl::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FFocusControl) FFocusControl = nullptr;
}

namespace {
class TLabelAccessible : public QAccessibleWidget {
public:
    explicit TLabelAccessible(TLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return StripAccelChars(static_cast<TLabel*>(widget())->Caption());
        return QAccessibleWidget::text(t);
    }
};
} // namespace

QAccessibleInterface* TLabel::CreateAccessible() {
    return new TLabelAccessible(this);
}
void TLabel::FontChanged() {
    TGraphicControl::FontChanged();
    AdjustBounds();
}
void TLabel::Loaded() {
    TGraphicControl::Loaded();
    AdjustBounds();
}

int TLabel::TextFlags() const {
    int f = FShowAccelChar ? Qt::TextShowMnemonic : 0;
    if (FWordWrap) f |= Qt::TextWordWrap;
    switch (FAlignment) {
    case taRightJustify:
        f |= Qt::AlignRight;
        break;
    case taCenter:
        f |= Qt::AlignHCenter;
        break;
    default:
        f |= Qt::AlignLeft;
        break;
    }
    switch (FLayout) {
    case tlCenter:
        f |= Qt::AlignVCenter;
        break;
    case tlBottom:
        f |= Qt::AlignBottom;
        break;
    default:
        f |= Qt::AlignTop;
        break;
    }
    return f;
}

// Auto-size: a plain label takes its text's size; a word-wrapping one keeps its width and takes
// the height of the wrapped text.
void TLabel::AdjustBounds() {
    if (!FAutoSize || IsLoading()) return;
    const QFontMetrics fm(Font()->ToQFont());
    const QString text = Caption().isEmpty() ? QStringLiteral(" ") : Caption();
    const QString shown = FShowAccelChar ? StripAccelChars(text) : text;
    int w = Width(), h;
    if (FWordWrap) {
        const QRect r = fm.boundingRect(QRect(0, 0, std::max(1, w), 100000),
                                        Qt::TextWordWrap | Qt::AlignLeft, shown);
        h = r.height();
    } else {
        w = fm.horizontalAdvance(shown);
        h = fm.height();
    }
    int l = Left();
    if (!FWordWrap && FAlignment == taRightJustify) l = Left() + Width() - w;
    SetBounds(l, Top(), w, h);
}

void TLabel::Paint() {
    QPainter* p = Canvas()->Painter();
    if (!p) return;
    if (!FTransparent) p->fillRect(rect(), ToQColor(Color()));
    p->setFont(Font()->ToQFont());
    p->setPen(Enabled() ? ToQColor(Font()->Color()) : ToQColor(clGrayText));
    p->drawText(rect(), TextFlags(), Caption());
}

// --- TButton -------------------------------------------------------------------------------------

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner), FButton(new QPushButton(this)) {
    FButton->setAutoDefault(false);
    connect(FButton, &QPushButton::clicked, this,
            [this] { GuardedCall(this, [this] { Click(); }); });
    SetTabStop(true);
    UpdateFocusPolicy();
    SetBounds(0, 0, 75, 25);
}

void TButton::SetDefault(bool v) {
    FDefault = v;
    FButton->setDefault(v);
}

void TButton::SetEnabled(bool v) {
    TWinControl::SetEnabled(v);
    FButton->setEnabled(v);
}

void TButton::TextChanged() {
    FButton->setText(Caption());
}
void TButton::ApplyFontToWidget(const QFont& font) {
    TWinControl::ApplyFontToWidget(font);
    FButton->setFont(font);
}
QWidget* TButton::FocusWidget() {
    return FButton;
}
void TButton::resizeEvent(QResizeEvent* e) {
    TWinControl::resizeEvent(e);
    FButton->setGeometry(0, 0, width(), height());
}

// --- TCheckBox -----------------------------------------------------------------------------------

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner), FBox(new QCheckBox(this)) {
    connect(FBox, &QCheckBox::clicked, this, [this] { GuardedCall(this, [this] { Toggle(); }); });
    SetTabStop(true);
    UpdateFocusPolicy();
    SetBounds(0, 0, 97, 17);
}

void TCheckBox::Sync() {
    const QSignalBlocker block(FBox);
    FBox->setTristate(FAllowGrayed || FState == cbGrayed);
    FBox->setCheckState(FState == cbChecked  ? Qt::Checked
                        : FState == cbGrayed ? Qt::PartiallyChecked
                                             : Qt::Unchecked);
}

void TCheckBox::SetState(TCheckBoxState s) {
    if (s == FState) {
        Sync();
        return;
    }
    FState = s;
    Sync();
    if (!IsLoading()) Click();
}

void TCheckBox::Toggle() {
    // The user clicked: cycle unchecked -> checked (-> grayed) -> unchecked.
    switch (FState) {
    case cbUnchecked:
        SetState(cbChecked);
        break;
    case cbChecked:
        SetState(FAllowGrayed ? cbGrayed : cbUnchecked);
        break;
    default:
        SetState(cbUnchecked);
        break;
    }
}

void TCheckBox::SetAllowGrayed(bool v) {
    FAllowGrayed = v;
    Sync();
}
void TCheckBox::SetAlignment(TAlignment v) {
    FAlignment = v;
    FBox->setLayoutDirection(v == taLeftJustify ? Qt::RightToLeft : Qt::LeftToRight);
}
void TCheckBox::TextChanged() {
    FBox->setText(Caption());
}
void TCheckBox::ApplyFontToWidget(const QFont& font) {
    TWinControl::ApplyFontToWidget(font);
    FBox->setFont(font);
}
QWidget* TCheckBox::FocusWidget() {
    return FBox;
}
void TCheckBox::resizeEvent(QResizeEvent* e) {
    TWinControl::resizeEvent(e);
    FBox->setGeometry(0, 0, width(), height());
}

// --- TComboBox -----------------------------------------------------------------------------------

TComboBox::TComboBox(TComponent* AOwner) : TWinControl(AOwner), FCombo(new QComboBox(this)) {
    connect(FCombo, &QComboBox::activated, this,
            [this](int) { GuardedCall(this, [this] { Change(); }); });
    FCombo->setMaxVisibleItems(FDropDownCount);
    SetTabStop(true);
    UpdateFocusPolicy();
    SetColor(clWindow);
    SetBounds(0, 0, 145, 21);
}

void TComboBox::SetStyle(TComboBoxStyle v) {
    FStyle = v;
    FCombo->setEditable(v == csDropDown || v == csSimple);
    if (QLineEdit* edit = FCombo->lineEdit()) edit->setAccessibleName(accessibleName());
}

void TComboBox::SetAccessibleName(const QString& name) {
    TWinControl::SetAccessibleName(name);
    if (QLineEdit* edit = FCombo->lineEdit()) edit->setAccessibleName(name);
    // On Linux Qt gives a combo box its current item as its name, and the name a screen reader
    // says from a "labelled by" relation to a QLabel whose buddy it is: this label, never shown.
    if (!FNameLabel) {
        FNameLabel = new QLabel(this);
        FNameLabel->hide();
        FNameLabel->setBuddy(FCombo);
    }
    FNameLabel->setText(name);
}

QStringList TComboBox::Items() const {
    QStringList l;
    for (int i = 0; i < FCombo->count(); ++i)
        l << FCombo->itemText(i);
    return l;
}

void TComboBox::SetItems(const QStringList& items) {
    const QSignalBlocker block(FCombo);
    const int old = FCombo->currentIndex();
    FCombo->clear();
    QStringList list = items;
    if (FSorted) list.sort(Qt::CaseInsensitive);
    FCombo->addItems(list);
    FCombo->setCurrentIndex(old >= 0 && old < FCombo->count() ? old : -1);
}

void TComboBox::AddItem(const QString& item) {
    const QSignalBlocker block(FCombo);
    const int old = FCombo->currentIndex();
    if (FSorted) {
        int at = 0;
        while (at < FCombo->count() && FCombo->itemText(at).compare(item, Qt::CaseInsensitive) <= 0)
            ++at;
        FCombo->insertItem(at, item);
    } else {
        FCombo->addItem(item);
    }
    FCombo->setCurrentIndex(old);
}

void TComboBox::Clear() {
    const QSignalBlocker block(FCombo);
    FCombo->clear();
}
int TComboBox::ItemCount() const {
    return FCombo->count();
}
QString TComboBox::Item(int index) const {
    return FCombo->itemText(index);
}
int TComboBox::ItemIndex() const {
    return FCombo->currentIndex();
}

void TComboBox::SetItemIndex(int index) {
    const QSignalBlocker block(FCombo);
    FCombo->setCurrentIndex(index >= 0 && index < FCombo->count() ? index : -1);
}

void TComboBox::SetDropDownCount(int v) {
    FDropDownCount = v;
    FCombo->setMaxVisibleItems(std::max(1, v));
}

void TComboBox::SetSorted(bool v) {
    if (v == FSorted) return;
    FSorted = v;
    if (v) SetItems(Items());
}

void TComboBox::Change() {
    OnChange(this);
}
void TComboBox::ApplyFontToWidget(const QFont& font) {
    TWinControl::ApplyFontToWidget(font);
    FCombo->setFont(font);
}
QWidget* TComboBox::FocusWidget() {
    return FCombo;
}
void TComboBox::resizeEvent(QResizeEvent* e) {
    TWinControl::resizeEvent(e);
    FCombo->setGeometry(0, 0, width(), height());
}
void TComboBox::ColorChanged() {
    TWinControl::ColorChanged();
}

// --- TGroupBox -----------------------------------------------------------------------------------

TGroupBox::TGroupBox(TComponent* AOwner) : TCustomControl(AOwner) {
    SetBounds(0, 0, 185, 105);
}

void TGroupBox::Paint() {
    TCanvas* c = Canvas();
    const int h = c->TextHeight(QStringLiteral("0"));
    TRect r = Rect(0, h / 2 - 1, Width(), Height());
    c->Brush()->SetColor(clBtnHighlight);
    OffsetRect(r, 1, 1);
    c->FrameRect(r);
    OffsetRect(r, -1, -1);
    c->Brush()->SetColor(clBtnShadow);
    c->FrameRect(r);
    if (!Caption().isEmpty()) {
        const QString text = StripAccelChars(Caption());
        const TRect t = Bounds(8, 0, c->TextWidth(text) + 2, h);
        c->Brush()->SetColor(Color());
        c->FillRect(t);
        c->DrawText(t, Caption(), Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic);
    }
}

void TGroupBox::AdjustClientRect(TRect& r) const {
    const int h = QFontMetrics(Font()->ToQFont()).height();
    r.Top += h;
    InflateRect(r, -1, -1);
}
