// The level meter as screen readers see it: a progress bar showing the level in percent of full
// scale. Read only: the sound sets the level.
#include "audio/display/AvLevel.h"

#include "framework/Threads.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

namespace {
class TAvLevelAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TAvLevelAccessible(TAvCustomLevel* level)
        : QAccessibleWidget(level, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return QStringLiteral("%1%").arg(Level()->Value());
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
    QVariant currentValue() const override { return Level()->Value(); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    TAvCustomLevel* Level() const { return static_cast<TAvCustomLevel*>(widget()); }
};
} // namespace

QAccessibleInterface* TAvCustomLevel::CreateAccessible() {
    return new TAvLevelAccessible(this);
}

void TAvCustomLevel::AccessibleValueChanged() {
    if (!QAccessible::isActive() || !IsMainThread()) return;
    const int value = Value();
    if (value == FAccessibleValue) return;
    FAccessibleValue = value;
    QAccessibleValueChangeEvent event(this, value);
    QAccessible::updateAccessibility(&event);
}
