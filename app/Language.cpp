#include "app/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace av {

TUiLanguage UiLanguage(const QProcessEnvironment& env) {
    QString locale;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = env.value(QString::fromLatin1(name));
        if (!locale.isEmpty()) break;
    }
    if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX") ||
        locale.startsWith(QLatin1String("C.")))
        return TUiLanguage::Chinese;
    QString first;
    for (const QString& language : env.value(QStringLiteral("LANGUAGE")).split(QLatin1Char(':')))
        if (!language.isEmpty()) {
            first = language;
            break;
        }
    if (first.isEmpty()) first = locale;
    return first.startsWith(QLatin1String("zh")) ? TUiLanguage::Chinese : TUiLanguage::English;
}

void InstallTranslations(TUiLanguage language) {
    // Kept for the life of the process: each application object installs them anew.
    static std::unique_ptr<QTranslator> ours, qt;
    const QString qtFile = language == TUiLanguage::Chinese ? QStringLiteral("qtbase_zh_CN")
                                                            : QStringLiteral("qtbase_en");
    if (!qt) {
        qt = std::make_unique<QTranslator>();
        if (!qt->load(qtFile, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) qt.reset();
    }
    if (qt) QCoreApplication::installTranslator(qt.get());
    if (language == TUiLanguage::English) {
        if (!ours) {
            ours = std::make_unique<QTranslator>();
            if (!ours->load(QStringLiteral(":/i18n/avsetup_en.qm"))) ours.reset();
        }
        if (ours) QCoreApplication::installTranslator(ours.get());
    }
}

} // namespace av
