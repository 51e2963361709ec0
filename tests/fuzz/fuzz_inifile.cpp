// The settings file reader and writer on arbitrary bytes. Every read answers; a write, a key
// deletion or a section erasure changes what it names and nothing else: every other key of every
// section reads as before. A refused change leaves the file as it was.
//
// Input: the file's bytes. Its first byte picks the change (bits 0-1), the section (bits 2-4:
// one of the file's own or a fixed name) and the key (bits 5-7).
#include "framework/IniFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <utility>

namespace {
// Names compare as the file object compares them: trimmed, case-insensitive.
QString Canon(const QString& name) {
    return name.trimmed().toCaseFolded();
}

using Contents = std::map<std::pair<QString, QString>, QString>;

// Every key that reads through the file object, by section and key.
Contents ReadAll(const TIniFile& ini) {
    Contents all;
    for (const QString& s : ini.ReadSections())
        for (const QString& k : ini.ReadSection(s)) {
            const auto id = std::make_pair(Canon(s), Canon(k));
            if (!all.count(id)) all[id] = ini.ReadString(s, k, QStringLiteral("\x01missing"));
        }
    return all;
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A name the writer accepts: no line breaks, "=" or "]", not blank, not a comment or section
// header.
bool WritableName(const QString& s, bool key) {
    const QString t = s.trimmed();
    if (t.isEmpty() || s.contains('\n') || s.contains('\r')) return false;
    if (key)
        return !s.contains('=') && !t.startsWith('[') && !t.startsWith(';') && !t.startsWith('#');
    return !s.contains(']');
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "inifile: %s\n", what);
        std::abort();
    }
}

const QString& FilePath() {
    // tmpfs where there is one: the file is rewritten on every input.
    static QTemporaryDir dir(QDir("/dev/shm").exists()
                                 ? QStringLiteral("/dev/shm/avsetup-fuzz-XXXXXX")
                                 : QDir::tempPath() + "/avsetup-fuzz-XXXXXX");
    static const QString path = dir.filePath("fuzz.ini");
    return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString& path = FilePath();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        f.write(bytes);
    }
    TIniFile ini(path);
    const Contents before = ReadAll(ini);
    for (const auto& [id, value] : before) {
        int n = 0;
        (void)TIniFile::TryStrToInt(value, n);
        (void)ini.ReadInteger(id.first, id.second, 0);
        (void)ini.ValueExists(id.first, id.second);
    }

    const std::uint8_t pick = size ? data[0] : 0;
    const QStringList sections = ini.ReadSections();
    QString section;
    switch ((pick >> 2) & 7) {
    case 0:
        section = QStringLiteral("Audio");
        break;
    case 1:
        section = QStringLiteral(" video ");
        break;
    case 2:
        section = QStringLiteral("Neu");
        break;
    default: {
        const int i = (pick >> 2) & 7;
        section = sections.isEmpty() ? QStringLiteral("AUDIO") : sections[i % sections.size()];
    }
    }
    const QStringList keys = ini.ReadSection(section);
    QString key;
    switch (pick >> 5) {
    case 0:
        key = QStringLiteral("DeviceIn");
        break;
    case 1:
        key = QStringLiteral("deviceout ");
        break;
    case 2:
        key = QStringLiteral("Neu");
        break;
    default:
        key = keys.isEmpty() ? QStringLiteral("Device") : keys[(pick >> 5) % keys.size()];
    }
    const bool validNames = WritableName(section, false) && WritableName(key, true);
    const int value = static_cast<int>(qHash(bytes));
    const auto sectionId = Canon(section), keyId = Canon(key);

    bool changed = true;
    try {
        switch (pick & 3) {
        case 0:
            ini.WriteInteger(section, key, value);
            break;
        case 1:
            ini.WriteString(section, key, QStringLiteral("v %1").arg(value));
            break;
        case 2:
            ini.DeleteKey(section, key);
            break;
        case 3:
            ini.EraseSection(section);
            break;
        }
    } catch (const EIniFileException&) {
        // Only names the writer cannot store are refused here (the file is small and ours).
        Check(!validNames, "a valid change was refused");
        Check(FileBytes(path) == bytes, "a refused change altered the file");
        changed = false;
    }
    if (!changed) return 0;
    Check(validNames || (pick & 3) >= 2, "an invalid name was written");

    const Contents after = ReadAll(ini);
    switch (pick & 3) {
    case 0:
        Check(ini.ReadInteger(section, key, value ^ 1) == value, "written integer reads back");
        break;
    case 1:
        Check(ini.ReadString(section, key, {}) == QStringLiteral("v %1").arg(value),
              "written string reads back");
        break;
    default:
        break;
    }
    // Everything else reads as before; a deletion may uncover a later duplicate of what it removed.
    for (const auto& [id, v] : before) {
        const bool named = id.first == sectionId && ((pick & 3) == 3 || id.second == keyId);
        if (named) continue;
        const auto it = after.find(id);
        Check(it != after.end(), "another key disappeared");
        Check(it->second == v, "another key changed its value");
    }
    for (const auto& [id, v] : after) {
        if (id.first == sectionId) continue;
        Check(before.count(id) == 1, "a key appeared in another section");
    }
    return 0;
}
