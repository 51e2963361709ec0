#include "framework/IniFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace {
// One line of the file, without its end-of-line bytes, and where it starts and ends.
struct Line {
    qsizetype start, end, next; // [start, end) text; next = start of the following line
};

// A settings file is a few lines; anything past this is not one (a damaged or wrong file) and
// is neither read into memory nor replaced.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

std::vector<Line> SplitLines(const QByteArray& data) {
    std::vector<Line> lines;
    // A UTF-8 byte order mark (editors write one) is not part of the first line; it stays in the
    // file.
    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < data.size()) {
        qsizetype nl = data.indexOf('\n', pos);
        qsizetype next = nl < 0 ? data.size() : nl + 1;
        qsizetype end = nl < 0 ? data.size() : nl;
        if (end > pos && data[end - 1] == '\r') --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

QString Decode(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

bool IsSectionLine(const QByteArray& t, QString& name) {
    const QByteArray s = t.trimmed();
    if (s.size() < 2 || s[0] != '[') return false;
    const qsizetype close = s.indexOf(']');
    if (close < 0) return false;
    name = Decode(s.mid(1, close - 1)).trimmed();
    return true;
}

bool IsKeyLine(const QByteArray& t, QString& key, qsizetype& eq) {
    const QByteArray s = t.trimmed();
    if (s.isEmpty() || s[0] == ';' || s[0] == '#') return false;
    eq = t.indexOf('=');
    if (eq < 0) return false;
    key = Decode(t.left(eq)).trimmed();
    return !key.isEmpty();
}

bool SameName(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// The lines of one section: header index and the index after its last line.
struct Section {
    int header = -1, end = -1, lastEntry = -1;
};

Section FindSection(const QByteArray& data, const std::vector<Line>& lines,
                    const QString& section) {
    Section s;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        const QByteArray t = data.mid(lines[i].start, lines[i].end - lines[i].start);
        QString name;
        if (IsSectionLine(t, name)) {
            if (s.header >= 0) {
                s.end = i;
                return s;
            }
            if (SameName(name, section)) s.header = i;
            continue;
        }
        if (s.header >= 0 && !t.trimmed().isEmpty()) s.lastEntry = i;
    }
    if (s.header >= 0) s.end = static_cast<int>(lines.size());
    return s;
}

int FindKey(const QByteArray& data, const std::vector<Line>& lines, const Section& s,
            const QString& key, qsizetype& eq) {
    if (s.header < 0) return -1;
    for (int i = s.header + 1; i < s.end; ++i) {
        const QByteArray t = data.mid(lines[i].start, lines[i].end - lines[i].start);
        QString k;
        if (IsKeyLine(t, k, eq) && SameName(k, key)) return i;
    }
    return -1;
}

QByteArray LineEnding(const QByteArray& data) {
    const qsizetype nl = data.indexOf('\n');
    if (nl > 0 && data[nl - 1] == '\r') return "\r\n";
    return "\n";
}
} // namespace

TIniFile::TIniFile(const QString& fileName) : FFileName(fileName) {}

bool TIniFile::Load(QByteArray& data) const {
    QFile f(FFileName);
    if (!f.exists()) return false;
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxFileSize) return false;
    // As much as the file holds (a pipe or device tells no size): a buffer of the largest size
    // allowed for every read of a small file would cost far more than the parsing.
    data = f.read(f.isSequential() ? kMaxFileSize + 1 : f.size() + 1);
    if (data.size() > kMaxFileSize) return false;
    return true;
}

void TIniFile::Save(const QByteArray& data) {
    // A read-only file stays as it is: the replacing rename would not ask. Checked with the
    // effective ids and capabilities, the ones the write itself would use.
    if (QFileInfo::exists(FFileName) &&
        faccessat(AT_FDCWD, QFile::encodeName(FFileName).constData(), W_OK, AT_EACCESS) != 0)
        throw EIniFileException(QStringLiteral("Unable to write to %1: %2")
                                    .arg(FFileName, QString::fromLocal8Bit(std::strerror(errno))));
    QSaveFile f(FFileName);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
        throw EIniFileException(
            QStringLiteral("Unable to write to %1: %2").arg(FFileName, f.errorString()));
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    QByteArray data;
    if (!Load(data)) return def;
    const auto lines = SplitLines(data);
    qsizetype eq = -1;
    const int i = FindKey(data, lines, FindSection(data, lines, section), key, eq);
    if (i < 0) return def;
    QString v =
        Decode(data.mid(lines[i].start + eq + 1, lines[i].end - lines[i].start - eq - 1)).trimmed();
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

bool TIniFile::TryStrToInt(const QString& text, int& value) {
    QString s = text.trimmed();
    if (s.isEmpty()) return false;
    bool negative = false;
    if (s.startsWith('-') || s.startsWith('+')) {
        negative = s.startsWith('-');
        s = s.mid(1);
    }
    int base = 10;
    if (s.startsWith('$')) {
        base = 16;
        s = s.mid(1);
    } else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        s = s.mid(2);
    }
    if (s.isEmpty()) return false;
    for (QChar c : s)
        if (!(base == 16 ? isxdigit(c.toLatin1()) : c.isDigit()) || c.unicode() > 127) return false;
    bool ok = false;
    const qulonglong magnitude = s.toULongLong(&ok, base);
    if (!ok) return false;
    if (base == 16 && !negative) {
        // Hexadecimal spells the 32-bit pattern: $FFFFFFFF is -1.
        if (magnitude > 0xFFFFFFFFull) return false;
        value = static_cast<int>(static_cast<std::uint32_t>(magnitude));
        return true;
    }
    const qlonglong v =
        negative ? -static_cast<qlonglong>(magnitude) : static_cast<qlonglong>(magnitude);
    if (magnitude > 0x80000000ull || v < std::numeric_limits<int>::min() ||
        v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    int v = def;
    return TryStrToInt(ReadString(section, key, QString()), v) ? v : def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    // A key line must read back as that key: not a comment, not a section header.
    const QString k = key.trimmed();
    const bool badKey = k.isEmpty() || key.contains('=') || k.startsWith('[') ||
                        k.startsWith(';') || k.startsWith('#');
    auto breaksLine = [](const QString& s) { return s.contains('\n') || s.contains('\r'); };
    if (badKey || section.trimmed().isEmpty() || section.contains(']') || breaksLine(section) ||
        breaksLine(key) || breaksLine(value))
        throw EIniFileException(
            QStringLiteral("Invalid section or key for %1: [%2] %3").arg(FFileName, section, key));
    QByteArray data;
    if (!Load(data) && QFileInfo::exists(FFileName))
        // Never replace a file we could not read: its content would be lost.
        throw EIniFileException(QStringLiteral("Unable to read %1").arg(FFileName));
    const auto lines = SplitLines(data);
    const QByteArray eol = LineEnding(data);
    const QByteArray v = value.toUtf8();
    const Section s = FindSection(data, lines, section);
    qsizetype eq = -1;
    const int i = FindKey(data, lines, s, key, eq);
    QByteArray out;
    if (i >= 0) {
        // Replace the value text only; the key as written and the line ending stay.
        const qsizetype from = lines[i].start + eq + 1;
        out = data.left(from) + v + data.mid(lines[i].end);
    } else if (s.header >= 0) {
        const int after = s.lastEntry >= 0 ? s.lastEntry : s.header;
        qsizetype at = lines[after].next;
        QByteArray insert = key.trimmed().toUtf8() + '=' + v + eol;
        // The last line had no line feed (a bare carriage return at the end is no line break).
        if (data[lines[after].next - 1] != '\n') insert.prepend(eol);
        out = data.left(at) + insert + data.mid(at);
    } else {
        out = data;
        if (!out.isEmpty() && !out.endsWith('\n')) out += eol;
        out +=
            '[' + section.trimmed().toUtf8() + ']' + eol + key.trimmed().toUtf8() + '=' + v + eol;
    }
    Save(out);
}

bool TIniFile::SectionExists(const QString& section) const {
    QByteArray data;
    if (!Load(data)) return false;
    return FindSection(data, SplitLines(data), section).header >= 0;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    QByteArray data;
    if (!Load(data)) return false;
    const auto lines = SplitLines(data);
    qsizetype eq;
    return FindKey(data, lines, FindSection(data, lines, section), key, eq) >= 0;
}

QStringList TIniFile::ReadSection(const QString& section) const {
    QStringList keys;
    QByteArray data;
    if (!Load(data)) return keys;
    const auto lines = SplitLines(data);
    const Section s = FindSection(data, lines, section);
    if (s.header < 0) return keys;
    for (int i = s.header + 1; i < s.end; ++i) {
        QString k;
        qsizetype eq;
        if (IsKeyLine(data.mid(lines[i].start, lines[i].end - lines[i].start), k, eq)) keys << k;
    }
    return keys;
}

QStringList TIniFile::ReadSections() const {
    QStringList names;
    QByteArray data;
    if (!Load(data)) return names;
    for (const Line& l : SplitLines(data)) {
        QString name;
        if (IsSectionLine(data.mid(l.start, l.end - l.start), name) &&
            std::none_of(names.cbegin(), names.cend(),
                         [&](const QString& n) { return SameName(n, name); }))
            names << name;
    }
    return names;
}

void TIniFile::DeleteKey(const QString& section, const QString& key) {
    QByteArray data;
    if (!Load(data)) return;
    const auto lines = SplitLines(data);
    qsizetype eq;
    const int i = FindKey(data, lines, FindSection(data, lines, section), key, eq);
    if (i < 0) return;
    Save(data.left(lines[i].start) + data.mid(lines[i].next));
}

void TIniFile::EraseSection(const QString& section) {
    QByteArray data;
    if (!Load(data)) return;
    const auto lines = SplitLines(data);
    const Section s = FindSection(data, lines, section);
    if (s.header < 0) return;
    const qsizetype endPos =
        s.end < static_cast<int>(lines.size()) ? lines[s.end].start : data.size();
    Save(data.left(lines[s.header].start) + data.mid(endPos));
}
