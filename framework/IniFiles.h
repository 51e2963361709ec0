#pragma once
// The settings file object: the platform's INI format (sections in [brackets], key=value lines).
// Section and key names compare case-insensitively. Reads never create anything on disk. Writes
// replace the value of an existing key in place and keep every other byte of the file as it was;
// a new key goes after the last entry of its section, a new section at the end. A write goes
// through a temporary file that replaces the old one only when complete, so a failed write never
// truncates the file; it raises EIniFileException with the file name. A read-only file is never
// replaced. A file that cannot be read (a folder, no permission, larger than 16 MiB) reads as
// missing and is never written over. A UTF-8 byte order mark at the start is kept and not taken
// as part of the first line. Any thread, one object per thread.
#include "framework/Exceptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class TIniFile {
public:
    explicit TIniFile(const QString& fileName);
    QString FileName() const { return FFileName; }

    // Decimal, or hexadecimal with "$" or "0x"; missing file, section, key or unconvertible
    // text (also beyond 32 bits) gives def.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteBool(const QString& section, const QString& key, bool value) {
        WriteInteger(section, key, value ? 1 : 0);
    }
    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList ReadSection(const QString& section) const; // the keys
    QStringList ReadSections() const; // the section names, each once, in file order
    void DeleteKey(const QString& section, const QString& key);
    void EraseSection(const QString& section);
    void UpdateFile() {} // writes are immediate

    // Decimal or "$"/"0x" hexadecimal text to a signed 32-bit integer.
    static bool TryStrToInt(const QString& text, int& value);

private:
    bool Load(QByteArray& data) const; // false when the file is missing
    void Save(const QByteArray& data);
    QString FFileName;
};
