// The slider as screen readers and other assistive tools see it: a slider whose value is the
// thumb's place in percent, which they can read and set as the keyboard does.
#include "audio/mixer/AvSlider.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <algorithm>

class TAvSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TAvSliderAccessible(TAvCustomSlider* slider)
        : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return QString::number(Slider()->AccessibleValue());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return Slider()->AccessibleValue(); }
    void setCurrentValue(const QVariant& value) override {
        TAvCustomSlider* s = Slider();
        if (!s->Enabled()) return;
        const int percent = std::clamp(value.toInt(), 0, 100);
        const int span = s->Max() - s->Min();
        // The place whose percentage rounds to the one asked for, moved as a key press moves it.
        const int place = s->Min() + (percent * span + 50) / 100;
        if (s->SetThumbPosition(place)) s->Track();
        s->TrackEnd();
    }
    QVariant maximumValue() const override { return 100; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    TAvCustomSlider* Slider() const { return static_cast<TAvCustomSlider*>(widget()); }
};

QAccessibleInterface* TAvCustomSlider::CreateAccessible() {
    return new TAvSliderAccessible(this);
}

int TAvCustomSlider::AccessibleValue() const {
    const int span = FMax - FMin;
    if (span <= 0) return 0;
    return static_cast<int>((static_cast<qint64>(FPosition - FMin) * 100 + span / 2) / span);
}

void TAvCustomSlider::AccessibleValueChanged() {
    if (!QAccessible::isActive() || IsLoading()) return;
    QAccessibleValueChangeEvent event(this, AccessibleValue());
    QAccessible::updateAccessibility(&event);
}
