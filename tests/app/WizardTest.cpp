// The wizard window: start-up state, page switching, the page hooks, layout and closing.
#include "tests/app/WizardTestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {
const QString kNext = QStringLiteral("下一步(&N)");
const QString kFinish = QStringLiteral("完成(&N)");

class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        // The settings file of this test only.
        App = wizardtest::StartWizard(Folder.path(), Messages);
        W = AudioVideoForm;
        W->Show();
        QCoreApplication::processEvents();
    }
    void TearDown() override { wizardtest::EndWizard(App); }
    void Next() { QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton); }
    void Back() { QTest::mouseClick(W->BeforeButton->Widget(), Qt::LeftButton); }

    QTemporaryDir Folder;
    std::unique_ptr<TApplication> App;
    TAudioVideoForm* W = nullptr;
    QStringList Messages;
};
} // namespace

TEST_F(Wizard, StartShowsTheWelcomePage) {
    EXPECT_EQ(App->MainForm(), W);
    EXPECT_EQ(W->Caption(), QStringLiteral("音频视频设置"));
    EXPECT_EQ(W->PageIndex(), 0);
    EXPECT_EQ(W->CurrentPage(), WizardForm);
    EXPECT_TRUE(WizardForm->isVisible());
    EXPECT_FALSE(W->BeforeButton->Enabled());
    EXPECT_EQ(W->NextButton->Caption(), kNext);
    EXPECT_FALSE(AudioOutForm->isVisible());
}

TEST_F(Wizard, NextThreeTimesReachesTheCameraPageAndBackRestoresNext) {
    Next();
    EXPECT_EQ(W->CurrentPage(), AudioOutForm);
    EXPECT_TRUE(W->BeforeButton->Enabled());
    EXPECT_FALSE(WizardForm->isVisible()); // a page that is left is hidden, not destroyed
    Next();
    EXPECT_EQ(W->CurrentPage(), AudioInForm);
    EXPECT_EQ(W->NextButton->Caption(), kNext);
    Next();
    EXPECT_EQ(W->PageIndex(), 3);
    EXPECT_EQ(W->CurrentPage(), VideoForm);
    EXPECT_TRUE(VideoForm->isVisible());
    EXPECT_EQ(W->NextButton->Caption(), kFinish);
    Back();
    EXPECT_EQ(W->CurrentPage(), AudioInForm);
    EXPECT_EQ(W->NextButton->Caption(), kNext);
    Back();
    Back();
    EXPECT_EQ(W->PageIndex(), 0);
    EXPECT_FALSE(W->BeforeButton->Enabled());
    EXPECT_TRUE(WizardForm->isVisible());
}

TEST_F(Wizard, NextStopsThePlayingTestSoundBeforeTheMicrophonePageShows) {
    Next();
    QTest::mouseClick(AudioOutForm->ButtonTest->Widget(), Qt::LeftButton);
    ASSERT_EQ(AudioOutForm->ButtonTest->Tag(), 1);
    EXPECT_EQ(AudioOutForm->ButtonTest->Caption(), QStringLiteral("停止"));
    int tagWhenShown = -1;
    AudioInForm->OnShow = [&](TObject*) { tagWhenShown = AudioOutForm->ButtonTest->Tag(); };
    Next();
    EXPECT_EQ(tagWhenShown, 0);
    EXPECT_EQ(AudioOutForm->ButtonTest->Caption(), QStringLiteral("播放声音"));
    EXPECT_EQ(W->CurrentPage(), AudioInForm);
}

TEST_F(Wizard, LeavingTheMicrophonePageStopsItsTest) {
    Next();
    Next();
    QTest::mouseClick(AudioInForm->ButtonTest->Widget(), Qt::LeftButton);
    ASSERT_EQ(AudioInForm->ButtonTest->Tag(), 1);
    Back();
    EXPECT_EQ(AudioInForm->ButtonTest->Tag(), 0);
    EXPECT_EQ(AudioInForm->ButtonTest->Caption(), QStringLiteral("测试"));
}

TEST_F(Wizard, DockedPagesTakeExactlyThePageArea) {
    EXPECT_EQ(W->ClientWidth(), 524);
    EXPECT_EQ(W->ClientHeight(), 375);
    EXPECT_EQ(W->Panel1->BoundsRect(), Bounds(0, 0, 524, 333));
    EXPECT_EQ(W->Image2->BoundsRect(), Bounds(0, 0, 164, 333));
    EXPECT_EQ(W->Image2->Picture()->Width(), 164);
    EXPECT_EQ(W->Image2->Picture()->Height(), 333);
    EXPECT_EQ(W->FramePanel->BoundsRect(), Bounds(164, 0, 360, 333));
    EXPECT_EQ(W->Bevel1->BoundsRect(), Bounds(0, 333, 524, 2));
    EXPECT_EQ(W->BeforeButton->BoundsRect(), Bounds(224, 341, 75, 25));
    EXPECT_EQ(W->NextButton->BoundsRect(), Bounds(323, 341, 75, 25));
    EXPECT_EQ(W->CancelButton->BoundsRect(), Bounds(423, 341, 75, 25));
    EXPECT_EQ(W->BeforeButton->TabOrder(), 1);
    EXPECT_EQ(W->NextButton->TabOrder(), 2);
    EXPECT_EQ(W->CancelButton->TabOrder(), 3);
    // and the keyboard's Tab follows that order
    auto nextTabStop = [](QWidget* start) {
        QWidget* w = start;
        do
            w = w->nextInFocusChain();
        while (w != start &&
               (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || w->focusProxy()));
        return w;
    };
    EXPECT_EQ(nextTabStop(W->BeforeButton->Widget()), W->NextButton->Widget());
    EXPECT_EQ(nextTabStop(W->NextButton->Widget()), W->CancelButton->Widget());
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        TForm* page = W->CurrentPage();
        EXPECT_EQ(page->Parent(), W->FramePanel);
        EXPECT_EQ(page->BoundsRect(), Bounds(0, 0, 360, 333));
        EXPECT_EQ(page->geometry(), QRect(0, 0, 360, 333));
        if (i < 3) Next();
    }
    // Owned components in the order of the table.
    const char* names[] = {"Bevel1",       "Panel1",     "Image2",      "FramePanel",
                           "BeforeButton", "NextButton", "CancelButton"};
    ASSERT_EQ(W->ComponentCount(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(W->Components(i)->Name(), QString::fromLatin1(names[i]));
}

TEST_F(Wizard, CancelAndCloseBoxEndWithoutWriting) {
    ASSERT_EQ(W->SettingsFileName(), QDir(Folder.path()).filePath("AudioVideo.ini"));
    Next();
    Next();
    Next();
    QTest::mouseClick(W->CancelButton->Widget(), Qt::LeftButton);
    EXPECT_TRUE(App->Terminated());
    EXPECT_FALSE(W->isVisible());
    EXPECT_FALSE(QFile::exists(W->SettingsFileName()));
}

TEST_F(Wizard, CloseBoxEndsTheProgram) {
    Next();
    W->close(); // the title-bar close box
    EXPECT_TRUE(App->Terminated());
    EXPECT_FALSE(QFile::exists(W->SettingsFileName()));
}

TEST_F(Wizard, FinishOnTheLastPageClosesTheWindow) {
    Next();
    Next();
    Next();
    EXPECT_FALSE(App->Terminated());
    EXPECT_FALSE(QFile::exists(W->SettingsFileName()));
    Next();
    EXPECT_TRUE(App->Terminated());
    EXPECT_TRUE(Messages.isEmpty());
    EXPECT_TRUE(QFile::exists(W->SettingsFileName()));
}

TEST_F(Wizard, ADialogWindowWhereTabShowsTheFocusAndEscapeInAnEditFieldStaysThere) {
    // A dialog with a close box only: window managers offer no minimise or maximise.
    EXPECT_EQ(W->windowType(), Qt::Dialog);
    EXPECT_FALSE(W->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(W->windowFlags() & Qt::WindowCloseButtonHint);
    // Tab moves the focus as the keyboard does, so styles draw it.
    QTest::keyClick(W->NextButton->Widget(), Qt::Key_Tab);
    EXPECT_TRUE(W->CancelButton->Widget()->hasFocus());
    EXPECT_TRUE(W->testAttribute(Qt::WA_KeyboardFocusChange));

    // Escape in the camera list's text belongs to it; on a button it cancels the wizard.
    Next();
    Next();
    Next();
    QLineEdit* edit = VideoForm->ComboBoxVideoSou->Widget()->lineEdit();
    ASSERT_NE(edit, nullptr);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(App->Terminated());
    EXPECT_TRUE(W->isVisible());
    W->NextButton->Widget()->setFocus();
    QTest::keyClick(W->NextButton->Widget(), Qt::Key_Escape);
    EXPECT_TRUE(App->Terminated());
    EXPECT_FALSE(QFile::exists(W->SettingsFileName()));
}
