// The settings file object: reading rules and in-place writing.
#include "NoPermissionOverride.h"
#include "framework/IniFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}
void WriteAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}
} // namespace

TEST(IniFile, ReadIntegerRules) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    WriteAll(path, "; comment\n[Audio]\nDeviceIn=3\n devicepos = -12 \nHex1=$1F\nHex2=0x10\n"
                   "Bad=12abc\nEmpty=\nBig=4294967296\nNeg=-2147483648\nAllOnes=$FFFFFFFF\n"
                   "[Video]\nDevice=2\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Audio", "DeviceIn", 0), 3);
    EXPECT_EQ(ini.ReadInteger("AUDIO", "DEVICEPOS", 0), -12); // names ignore case and spaces
    EXPECT_EQ(ini.ReadInteger("Audio", "Hex1", 0), 31);
    EXPECT_EQ(ini.ReadInteger("Audio", "Hex2", 0), 16);
    EXPECT_EQ(ini.ReadInteger("Audio", "Bad", 50), 50);
    EXPECT_EQ(ini.ReadInteger("Audio", "Empty", 50), 50);
    EXPECT_EQ(ini.ReadInteger("Audio", "Big", 50), 50);
    EXPECT_EQ(ini.ReadInteger("Audio", "Neg", 0), -2147483647 - 1);
    EXPECT_EQ(ini.ReadInteger("Audio", "AllOnes", 0), -1);
    EXPECT_EQ(ini.ReadInteger("Audio", "Missing", 7), 7);
    EXPECT_EQ(ini.ReadInteger("Nothing", "DeviceIn", 7), 7);
    EXPECT_EQ(ini.ReadInteger("Video", "Device", 0), 2);
    EXPECT_EQ(ini.ReadInteger("Video", "DeviceIn", 9), 9); // keys belong to their section
    EXPECT_EQ(TIniFile(dir.filePath("none.ini")).ReadInteger("Audio", "DeviceIn", 4), 4);
    EXPECT_FALSE(QFile::exists(dir.filePath("none.ini"))); // reading creates nothing
}

TEST(IniFile, WriteReplacesInPlaceAndKeepsEverythingElse) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    const QByteArray before = "; keep me\r\n[Audio]\r\nDeviceIn = 3\r\nOther=x y z\r\n\r\n"
                              "[Video]\r\nDevice=1\r\n";
    WriteAll(path, before);
    TIniFile ini(path);
    ini.WriteInteger("audio", "deviceIN", -1);
    QByteArray expected = before;
    expected.replace("DeviceIn = 3", "DeviceIn =-1");
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(ini.ReadInteger("Audio", "DeviceIn", 0), -1);

    ini.WriteInteger("Audio", "DeviceOut", 2); // new key after the section's last entry
    expected.replace("Other=x y z\r\n", "Other=x y z\r\nDeviceOut=2\r\n");
    EXPECT_EQ(ReadAll(path), expected);

    ini.WriteString("Extra", "Name", "v"); // new section at the end, same line ending
    expected += "[Extra]\r\nName=v\r\n";
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(IniFile, WriteCreatesFileAndHandlesMissingFinalNewline) {
    QTemporaryDir dir;
    const QString path = dir.filePath("new.ini");
    TIniFile ini(path);
    ini.WriteInteger("Audio", "DeviceIn", 1);
    ini.WriteInteger("Video", "Device", 0);
    EXPECT_EQ(ReadAll(path), QByteArray("[Audio]\nDeviceIn=1\n[Video]\nDevice=0\n"));

    const QString path2 = dir.filePath("nonl.ini");
    WriteAll(path2, "[Audio]\nDeviceIn=1");
    TIniFile(path2).WriteInteger("Audio", "DeviceOut", 5);
    EXPECT_EQ(ReadAll(path2), QByteArray("[Audio]\nDeviceIn=1\nDeviceOut=5\n"));
}

TEST(IniFile, RefusedWriteRaisesAndKeepsTheOldFile) {
    QTemporaryDir dir;
    TIniFile missingDir(dir.filePath("no/such/dir/a.ini"));
    EXPECT_THROW(missingDir.WriteInteger("Audio", "DeviceIn", 1), EIniFileException);

    // A path that cannot be read as a file is never replaced.
    QDir(dir.path()).mkdir("folder.ini");
    TIniFile folder(dir.filePath("folder.ini"));
    EXPECT_THROW(folder.WriteInteger("Audio", "DeviceIn", 1), EIniFileException);
    EXPECT_TRUE(QFileInfo(dir.filePath("folder.ini")).isDir());

    TIniFile ini(dir.filePath("a.ini"));
    EXPECT_THROW(ini.WriteString("Audio", "Bad=Key", "1"), EIniFileException);
    EXPECT_THROW(ini.WriteString("Audio", "Key", "two\nlines"), EIniFileException);
    // Keys that would read back as a comment or a section header (which would move the keys
    // after it into another section), and names with a line break.
    for (const char* key : {"[Video]x", " ;k", "#k", "a\rb"})
        EXPECT_THROW(ini.WriteString("Audio", key, "1"), EIniFileException) << key;
    EXPECT_THROW(ini.WriteString("Au\rdio", "Key", "1"), EIniFileException);
    EXPECT_FALSE(QFile::exists(dir.filePath("a.ini")));
    try {
        missingDir.WriteInteger("Audio", "DeviceIn", 1);
    } catch (const EIniFileException& e) {
        EXPECT_TRUE(e.Message().contains("a.ini"));
    }
}

TEST(IniFile, HugeBinaryAndMarkedFiles) {
    QTemporaryDir dir;
    // Far too large to be a settings file: read as missing, never replaced.
    const QString hugePath = dir.filePath("huge.ini");
    {
        QFile f(hugePath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Audio]\nDeviceIn=3\n");
        ASSERT_TRUE(f.resize(17 * 1024 * 1024)); // sparse
    }
    TIniFile huge(hugePath);
    EXPECT_EQ(huge.ReadInteger("Audio", "DeviceIn", -5), -5);
    EXPECT_THROW(huge.WriteInteger("Audio", "DeviceIn", 1), EIniFileException);
    EXPECT_EQ(QFileInfo(hugePath).size(), 17 * 1024 * 1024);

    // Binary garbage with NUL bytes and invalid UTF-8 around a good section still reads.
    const QString binPath = dir.filePath("bin.ini");
    WriteAll(binPath,
             QByteArray("\x00\xff\xfe=\x80\n[\x01\n[Audio]\nDeviceIn=7\n\xc3\x28=\x00", 32));
    TIniFile bin(binPath);
    EXPECT_EQ(bin.ReadInteger("Audio", "DeviceIn", -5), 7);
    bin.WriteInteger("Audio", "DeviceOut", 2);
    EXPECT_EQ(bin.ReadInteger("Audio", "DeviceOut", -5), 2);
    EXPECT_TRUE(ReadAll(binPath).startsWith(QByteArray("\x00\xff\xfe=\x80\n", 6)));

    // An editor's byte order mark: the first section is still found, no second one is added.
    const QString bomPath = dir.filePath("bom.ini");
    WriteAll(bomPath, "\xEF\xBB\xBF[Audio]\r\nDeviceIn=4\r\n");
    TIniFile bom(bomPath);
    EXPECT_EQ(bom.ReadInteger("Audio", "DeviceIn", -5), 4);
    bom.WriteInteger("Audio", "DeviceIn", 5);
    EXPECT_EQ(ReadAll(bomPath), QByteArray("\xEF\xBB\xBF[Audio]\r\nDeviceIn=5\r\n"));
}

TEST(IniFile, ReadOnlyFileOrFolderIsLeftAsItIs) {
    const TNoPermissionOverride asUser;
    QTemporaryDir dir;
    const QString path = dir.filePath("ro.ini");
    const QByteArray before = "[Audio]\nDeviceIn=3\n";
    WriteAll(path, before);
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Audio", "DeviceIn", 0), 3);
    EXPECT_THROW(ini.WriteInteger("Audio", "DeviceIn", 4), EIniFileException);
    EXPECT_THROW(ini.DeleteKey("Audio", "DeviceIn"), EIniFileException);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(QFileInfo(path).permissions() & QFile::WriteOwner, 0);

    // A writable file in a folder that is not: no temporary file can be made beside it.
    const QString sub = dir.filePath("ro");
    ASSERT_TRUE(QDir(dir.path()).mkdir("ro"));
    WriteAll(sub + "/a.ini", before);
    ASSERT_TRUE(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_THROW(TIniFile(sub + "/a.ini").WriteInteger("Audio", "DeviceIn", 4), EIniFileException);
    EXPECT_EQ(ReadAll(sub + "/a.ini"), before);
    EXPECT_EQ(QDir(sub).entryList(QDir::Files), QStringList{"a.ini"});
    QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
