#pragma once
// The language the wizard speaks. Chinese is the source text; an English translation (compiled
// into the program, ":/i18n/avsetup_en.qm") serves every other language. Main thread.
#include <QProcessEnvironment>

namespace av {

enum class TUiLanguage { Chinese, English };

// The desktop's language, read as the C library reads it: the locale is LC_ALL, else LC_MESSAGES,
// else LANG; LANGUAGE, a list of languages by preference, comes before it unless the locale is C
// or POSIX. The first language decides: Chinese ("zh...") gives Chinese, any other English; the C
// and POSIX locales, and no locale at all, keep the source, Chinese.
TUiLanguage UiLanguage(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

// Installs into the running application object the translation for language (none for Chinese)
// and Qt's own texts (standard buttons) in that language where Qt's translations are installed.
// Call again for each new application object.
void InstallTranslations(TUiLanguage language);

} // namespace av
