#include "app/Installation.h"

#include <QDir>
#include <QFileInfo>

// The data folder seen from the program's folder, as the build configured both (CMake passes it;
// "../share/avsetup" for the usual layout).
#ifndef AVSETUP_DATA_FROM_BINDIR
#define AVSETUP_DATA_FROM_BINDIR "../share/avsetup"
#endif

namespace av {

namespace {
QString InstalledDataFolder(const QString& programFolder) {
    return QDir::cleanPath(QDir(programFolder).filePath(QStringLiteral(AVSETUP_DATA_FROM_BINDIR)));
}
} // namespace

bool IsInstalledProgramFolder(const QString& programFolder) {
    if (programFolder.isEmpty()) return false;
    const QFileInfo info(programFolder);
    // Through links: /bin is /usr/bin on most systems, and a link may lead into a system folder.
    const QString folder =
        info.exists() ? info.canonicalFilePath() : QDir::cleanPath(programFolder);
    for (const char* root : {"/usr", "/bin", "/sbin", "/opt"}) {
        const QString r = QString::fromLatin1(root);
        if (folder == r || folder.startsWith(r + QLatin1Char('/'))) return true;
    }
    return QFileInfo(InstalledDataFolder(programFolder)).isDir();
}

QString ProgramDataFile(const QString& programFolder, const QString& name) {
    const QString beside = QDir(programFolder).filePath(name);
    if (QFileInfo::exists(beside)) return beside;
    const QString installed = QDir(InstalledDataFolder(programFolder)).filePath(name);
    return QFileInfo::exists(installed) ? installed : beside;
}

} // namespace av
