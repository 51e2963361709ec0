// The two languages: which one the desktop's locale chooses, and that the English translation
// carried in the program covers every text the wizard shows.
#include "app/Language.h"
#include "WizardTestSupport.h"
#include "app/Failures.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

namespace {

using av::TUiLanguage;

TEST(Language, ChineseLocalesKeepChineseAndEveryOtherLanguageGetsEnglish) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        const char* language;
        TUiLanguage expected;
    };
    const TUiLanguage zh = TUiLanguage::Chinese, en = TUiLanguage::English;
    const Case cases[] = {
        {"", "", "", "", zh},                        // nothing set: the C locale
        {"", "", "C", "", zh},                       // C and POSIX keep the source
        {"", "", "C.UTF-8", "en", zh},               // LANGUAGE does not count under C
        {"", "", "POSIX", "", zh},                   //
        {"", "", "zh_CN.UTF-8", "", zh},             // Chinese locales
        {"", "", "zh_TW.UTF-8", "", zh},             //
        {"", "", "en_US.UTF-8", "en", en},           // English
        {"", "", "de_DE.UTF-8", "", en},             // every other language
        {"", "", "fr_FR.UTF-8", "fr:zh_CN", en},     // the first language decides
        {"", "", "en_US.UTF-8", "zh_CN:en", zh},     // LANGUAGE before LANG
        {"", "zh_CN.UTF-8", "en_US.UTF-8", "", zh},  // LC_MESSAGES before LANG
        {"de_DE.UTF-8", "zh_CN.UTF-8", "C", "", en}, // LC_ALL before both
        {"C", "", "zh_CN.UTF-8", "zh_CN", zh},       // LC_ALL=C: the source
    };
    for (const Case& c : cases) {
        QProcessEnvironment env;
        auto set = [&env](const char* name, const char* value) {
            if (*value) env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
        };
        set("LC_ALL", c.lcAll);
        set("LC_MESSAGES", c.lcMessages);
        set("LANG", c.lang);
        set("LANGUAGE", c.language);
        EXPECT_EQ(av::UiLanguage(env), c.expected)
            << "LC_ALL=" << c.lcAll << " LC_MESSAGES=" << c.lcMessages << " LANG=" << c.lang
            << " LANGUAGE=" << c.language;
    }
}

// Chinese characters in a text: a text the translation missed.
bool HasChinese(const QString& text) {
    static const QRegularExpression han(QStringLiteral("\\p{Han}"));
    return text.contains(han);
}

class English : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Translator.load(QStringLiteral(":/i18n/avsetup_en.qm")));
        QCoreApplication::installTranslator(&Translator);
        App = wizardtest::StartWizard(Folder.path(), Messages);
        W = AudioVideoForm;
        W->Show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        wizardtest::EndWizard(App);
        QCoreApplication::removeTranslator(&Translator);
    }
    // Every text shown now in the window: captions of the controls, Qt buttons and labels.
    QStringList ShownTexts() const {
        QStringList texts{W->Caption()};
        for (QWidget* w : W->findChildren<QWidget*>()) {
            if (!w->isVisible()) continue;
            if (auto* c = dynamic_cast<TControl*>(w)) texts << c->Caption();
            if (auto* b = qobject_cast<QAbstractButton*>(w)) texts << b->text();
            if (auto* l = qobject_cast<QLabel*>(w)) texts << l->text();
        }
        texts.removeAll(QString());
        return texts;
    }

    QTranslator Translator;
    QTemporaryDir Folder;
    QStringList Messages;
    std::unique_ptr<TApplication> App;
    TAudioVideoForm* W = nullptr;
};

TEST_F(English, EveryTextTheWizardShowsIsTranslated) {
    EXPECT_EQ(W->Caption(), QStringLiteral("Audio and Video Setup"));
    EXPECT_EQ(W->NextButton->Caption(), QStringLiteral("&Next"));
    for (int page = 0; page < 4; ++page) {
        const QStringList texts = ShownTexts();
        EXPECT_GE(texts.size(), 4) << "page " << page;
        for (const QString& text : texts)
            EXPECT_FALSE(HasChinese(text)) << "page " << page << ": " << text.toStdString();
        // The test buttons' other state.
        for (TButton* b : {AudioOutForm->ButtonTest, AudioInForm->ButtonTest})
            if (b->Showing()) {
                b->Click();
                EXPECT_FALSE(HasChinese(b->Caption())) << b->Caption().toStdString();
                b->Click();
            }
        if (page < 3) QTest::mouseClick(W->NextButton->Widget(), Qt::LeftButton);
    }
    EXPECT_EQ(W->NextButton->Caption(), QStringLiteral("Fi&nish"));

    // Messages a person may meet: the plain words of a failure, the camera controls dialog.
    const QString settings = ExplainFailure(QStringLiteral("EIniFileException"), QString());
    EXPECT_FALSE(settings.isEmpty());
    EXPECT_FALSE(HasChinese(settings)) << settings.toStdString();
    // The camera controls dialog's own buttons.
    for (const char* text : {"默认值", "关闭"})
        EXPECT_FALSE(HasChinese(QCoreApplication::translate("TCameraControlsDialog", text)))
            << text;
}

} // namespace
