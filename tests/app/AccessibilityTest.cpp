// The wizard as a screen reader and a keyboard user meet it: every control that Tab reaches has a
// role and a name, the volume sliders are sliders with a value that follows the keys and can be
// set, the level meter reports its level and the video window has a name.
#include "WizardTestSupport.h"
#include "audio/display/AvLevel.h"
#include "audio/mixer/AvMixBlk.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace {

// The name a screen reader says: on Linux a combo box's name is its current item and what it is
// for comes from the label it is "labelled by".
QString SpokenName(QAccessibleInterface* a) {
    if (a->role() == QAccessible::ComboBox) {
        const auto labels = a->relations(QAccessible::Label);
        return labels.isEmpty() ? QStringLiteral("(no label) ") + a->text(QAccessible::Name)
                                : labels.first().first->text(QAccessible::Name);
    }
    return a->text(QAccessible::Name);
}

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override {
        App = wizardtest::StartWizard(Folder.path(), Messages);
        W = AudioVideoForm;
        W->Show();
        QApplication::setActiveWindow(W);
        ASSERT_TRUE(QTest::qWaitForWindowActive(W));
    }
    void TearDown() override { wizardtest::EndWizard(App); }
    void Next() { QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton); }

    // Tab from Next round the window back to it: what a screen reader says for each stop, as
    // (role, name) pairs.
    std::multiset<std::pair<QAccessible::Role, QString>> TabStops() {
        std::multiset<std::pair<QAccessible::Role, QString>> stops;
        W->NextButton->SetFocus();
        QWidget* start = QApplication::focusWidget();
        for (int i = 0; i < 20; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* w = QApplication::focusWidget();
            if (!w) {
                ADD_FAILURE() << "Tab left no focus";
                break;
            }
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            if (!a) {
                ADD_FAILURE() << "no interface for " << w->metaObject()->className();
                continue;
            }
            stops.emplace(a->role(), SpokenName(a));
            if (w == start) return stops;
        }
        ADD_FAILURE() << "Tab did not come back to Next";
        return stops;
    }

    QTemporaryDir Folder;
    QStringList Messages;
    std::unique_ptr<TApplication> App;
    TAudioVideoForm* W = nullptr;
};

using Stops = std::multiset<std::pair<QAccessible::Role, QString>>;

TEST_F(Accessibility, EveryTabStopHasARoleAndAName) {
    const QString next = QStringLiteral("下一步(N)");
    const QString back = QStringLiteral("上一步(B)");
    const QString cancel = QStringLiteral("取消(C)");
    EXPECT_EQ(TabStops(), (Stops{{QAccessible::Button, next}, {QAccessible::Button, cancel}}));
    Next();
    EXPECT_EQ(TabStops(),
              (Stops{{QAccessible::Button, QStringLiteral("播放声音")},
                     {QAccessible::ComboBox, QStringLiteral("选择您要使用的扬声器或耳机：")},
                     {QAccessible::Slider, QStringLiteral("扬声器音量")},
                     {QAccessible::Button, back},
                     {QAccessible::Button, next},
                     {QAccessible::Button, cancel}}));
    Next();
    EXPECT_EQ(TabStops(), (Stops{{QAccessible::ComboBox, QStringLiteral("选择您要使用的麦克风：")},
                                 {QAccessible::Slider, QStringLiteral("麦克风音量")},
                                 {QAccessible::Button, QStringLiteral("测试")},
                                 {QAccessible::Button, QStringLiteral("录音回放")},
                                 {QAccessible::CheckBox, QStringLiteral("自动调节麦克风音量")},
                                 {QAccessible::Button, back},
                                 {QAccessible::Button, next},
                                 {QAccessible::Button, cancel}}));
    Next();
    // The camera list is editable: its edit field carries the list's name too.
    EXPECT_EQ(TabStops(), (Stops{{QAccessible::ComboBox, QStringLiteral("摄像机")},
                                 {QAccessible::Animation, QStringLiteral("摄像机预览")},
                                 {QAccessible::Button, QStringLiteral("测试")},
                                 {QAccessible::Button, back},
                                 {QAccessible::Button, QStringLiteral("完成(N)")},
                                 {QAccessible::Button, cancel}}));
    QLineEdit* edit = VideoForm->ComboBoxVideoSou->Widget()->lineEdit();
    ASSERT_TRUE(edit);
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(edit);
    ASSERT_TRUE(field);
    EXPECT_EQ(field->role(), QAccessible::EditableText);
    EXPECT_EQ(field->text(QAccessible::Name), QStringLiteral("摄像机"));
    // The labels are read as static text.
    QAccessibleInterface* hint = QAccessible::queryAccessibleInterface(VideoForm->Label1);
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->role(), QAccessible::StaticText);
    EXPECT_EQ(hint->text(QAccessible::Name), VideoForm->Label1->Caption());
}

TEST_F(Accessibility, VolumeSlidersAreSlidersWhoseValueFollowsTheKeysAndCanBeSet) {
    Next();
    for (TAvMixerBlockSlider* slider :
         {AudioOutForm->AvMixerBlockSlider6, AudioInForm->AvMixerBlockSlider2}) {
        if (slider == AudioInForm->AvMixerBlockSlider2) Next();
        SCOPED_TRACE(slider->Name().toStdString());
        slider->SetFocus();
        ASSERT_EQ(QApplication::focusWidget(), slider);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(slider);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->role(), QAccessible::Slider);
        QAccessibleValueInterface* v = a->valueInterface();
        ASSERT_TRUE(v);
        EXPECT_EQ(v->minimumValue().toInt(), 0);
        EXPECT_EQ(v->maximumValue().toInt(), 100);
        auto value = [&] { return v->currentValue().toInt(); };

        QTest::keyClick(slider, Qt::Key_Home); // the top: loudest
        EXPECT_EQ(value(), 100);
        QTest::keyClick(slider, Qt::Key_End);
        EXPECT_EQ(value(), 0);
        QTest::keyClick(slider, Qt::Key_PageUp);
        const int page = value();
        EXPECT_GT(page, 0);
        QTest::keyClick(slider, Qt::Key_Up);
        EXPECT_GT(value(), page);
        QTest::keyClick(slider, Qt::Key_Down);
        EXPECT_EQ(value(), page);
        QTest::keyClick(slider, Qt::Key_PageDown);
        EXPECT_EQ(value(), 0);
        EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("0"));

        // Set by an assistive tool: the thumb moves and the program's position (the mixer's
        // volume) follows, as after a key press.
        const int before = slider->Position();
        v->setCurrentValue(60);
        EXPECT_EQ(value(), 60);
        EXPECT_NE(slider->Position(), before);
        v->setCurrentValue(250);
        EXPECT_EQ(value(), 100);
    }
}

TEST_F(Accessibility, TheLevelMeterReportsItsLevel) {
    Next();
    Next();
    TAvLevel* meter = AudioInForm->AvLevel1;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(meter);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->role(), QAccessible::ProgressBar);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("麦克风音量指示"));
    QAccessibleValueInterface* v = a->valueInterface();
    ASSERT_TRUE(v);
    EXPECT_EQ(v->maximumValue().toInt(), 100);
    EXPECT_EQ(v->currentValue().toInt(), 0);
    meter->SetLevel(TAvCustomLevel::FullScale / 2);
    EXPECT_GT(v->currentValue().toInt(), 0);
    EXPECT_EQ(v->currentValue().toInt(), meter->Value());
    EXPECT_EQ(a->text(QAccessible::Value), QStringLiteral("%1%").arg(meter->Value()));
    meter->ResetLevel();
    EXPECT_EQ(v->currentValue().toInt(), 0);
    v->setCurrentValue(80); // the sound sets the level, not a tool
    EXPECT_EQ(v->currentValue().toInt(), 0);
}

} // namespace
