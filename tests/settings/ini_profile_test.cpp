#include "settings/ini_profile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "support/files.h"

namespace torvix {
namespace {

class IniProfileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void put(const QByteArray& bytes) const { testing::writeFile(path, bytes); }
    QByteArray contents() const { return testing::readFile(path); }
    QString read(const QString& section, const QString& key, const QString& fallback = "dflt") {
        return readIniString(path, section, key, fallback).value_or("<unreadable>");
    }
    // Writes and checks the whole file afterwards.
    void expectWrite(const QString& section, const QString& key, const QString& value,
                     const QByteArray& expected) {
        EXPECT_TRUE(writeIniString(path, section, key, value));
        EXPECT_EQ(contents(), expected);
    }

    QTemporaryDir dir;
    QString path = dir.filePath("profile.ini");
};

TEST_F(IniProfileTest, MissingFileGivesDefaultAndWriteCreatesIt) {
    EXPECT_EQ(read("PC config", "COM", "1"), "1");
    expectWrite("PC config", "COM", "3", "[PC config]\nCOM=3\n");
    expectWrite("PC config", "COMSettings", "115200,e,8,1",
                "[PC config]\nCOM=3\nCOMSettings=115200,e,8,1\n");
    expectWrite("QDL config", "MBSLAD", "7",
                "[PC config]\nCOM=3\nCOMSettings=115200,e,8,1\n[QDL config]\nMBSLAD=7\n");
    EXPECT_EQ(read("PC config", "COM"), "3");
    EXPECT_EQ(read("QDL config", "MBSLAD"), "7");
}

TEST_F(IniProfileTest, NamesMatchWithoutRegardToCaseAndValuesAreTrimmed) {
    put("[pc CONFIG]\n  com =  5 \nComSettings\t=\t9600,n,8,1  \n[Порты]\nключ=значение\n");
    EXPECT_EQ(read("PC config", "COM"), "5");
    EXPECT_EQ(read("PC CONFIG", "comsettings"), "9600,n,8,1");
    EXPECT_EQ(read("ПОРТЫ", "КЛЮЧ"), "значение");
    EXPECT_EQ(read("PC config", "MBSLAD"), "dflt");
    EXPECT_EQ(read("QDL config", "COM"), "dflt");
}

TEST_F(IniProfileTest, FirstMatchWinsAndOddLinesAreSkipped) {
    put("COM=9\n"       // before any section: belongs to none
        "[PC config\n"  // no closing bracket: not a header
        "[PC config]\n"
        ";COM=8\n"  // comment
        "COM\n"     // no "=": not an entry
        "COM=1\n"
        "COM=2\n"
        "Empty=\n"
        "[Other]\n"
        "X=1\n"
        "[pc config]\n"  // a second section of the same name is not consulted
        "COM=3\n"
        "Late=4\n");
    EXPECT_EQ(read("PC config", "COM"), "1");
    EXPECT_EQ(read("PC config", "Empty"), "");
    EXPECT_EQ(read("PC config", "Late"), "dflt");
    EXPECT_EQ(read("Other", "X"), "1");
}

TEST_F(IniProfileTest, ValuesAreCutTo254Characters) {
    const QString longValue = QString(250, u'a') + "bcdefghij" + QString(41, u'z');
    ASSERT_EQ(longValue.size(), 300);
    EXPECT_TRUE(writeIniString(path, u"S", u"K", longValue));
    EXPECT_EQ(contents(), "[S]\nK=" + longValue.toUtf8() + "\n");  // written whole
    EXPECT_EQ(read("S", "K"), QString(250, u'a') + "bcde");
    EXPECT_EQ(read("S", "missing", QString(300, u'd')), QString(254, u'd'));
}

TEST_F(IniProfileTest, LineBreaksInAValueAreWrittenAsBlanks) {
    expectWrite("S", "K", "a\r\nb\nc\rd", "[S]\nK=a  b c d\n");
    EXPECT_EQ(read("S", "K"), "a  b c d");
    // Blanks around a value do not read back; kept, each rewrite added them again.
    expectWrite("S", "K", " \tv w\n", "[S]\nK=v w\n");
    expectWrite("S", "K", " \tv w\n", "[S]\nK=v w\n");
}

TEST_F(IniProfileTest, ReplacesAValueInPlaceAndKeepsEveryOtherByte) {
    const QByteArray before =
        "; configuration of the test tool\r\n"
        "\r\n"
        "[Unknown]\r\n"
        "Alpha = beta \r\n"
        "[PC config]\r\n"
        "  com = 3  \r\n"
        "Extra=kept\r\n"
        "\r\n"
        "; about the next section\r\n"
        "[QDL config]\r\n"
        "MBSLAD=7";  // no final line break
    put(before);
    QByteArray expected = before;
    expected.replace("  com = 3  ", "  com = 12  ");
    expectWrite("PC config", "COM", "12", expected);

    // A new key goes after the last entry of its section, in the file's own line ending.
    expected.replace("Extra=kept\r\n", "Extra=kept\r\nCOMSettings=9600,n,8,1\r\n");
    expectWrite("PC config", "COMSettings", "9600,n,8,1", expected);

    // At the end of the file the missing final line break stays missing.
    expectWrite("QDL config", "New", "1", expected + "\r\nNew=1");
    expectWrite("Ports", "COM3", "/dev/ttyUSB1",
                expected + "\r\nNew=1\r\n[Ports]\r\nCOM3=/dev/ttyUSB1");
    expectWrite("QDL config", "MBSLAD", "-1",
                QByteArray(expected).replace("MBSLAD=7", "MBSLAD=-1") +
                    "\r\nNew=1\r\n[Ports]\r\nCOM3=/dev/ttyUSB1");
}

TEST_F(IniProfileTest, EmptyValueAndHeaderOnlySectionTakeNewValues) {
    put("[A]\nK=\n[B]\n\n[C]\nx=1\n");
    expectWrite("A", "K", "v", "[A]\nK=v\n[B]\n\n[C]\nx=1\n");
    expectWrite("B", "K", "w", "[A]\nK=v\n[B]\nK=w\n\n[C]\nx=1\n");
}

TEST_F(IniProfileTest, Utf8TextAndByteOrderMark) {
    put("\xEF\xBB\xBF[PC config]\nCOMSettings=скорость\n");
    EXPECT_EQ(read("PC config", "COMSettings"), "скорость");
    expectWrite("PC config", "COMSettings", "ещё", "\xEF\xBB\xBF[PC config]\nCOMSettings=ещё\n");

    // U+FEFF is a byte-order mark only where it starts the file; anywhere else it is a
    // character of a name or value and reads back as written.
    const QString withMark = QStringLiteral("\uFEFFзнач");
    expectWrite(
        "PC config", "COMSettings", withMark,
        "\xEF\xBB\xBF[PC config]\nCOMSettings=\xEF\xBB\xBF\xD0\xB7\xD0\xBD\xD0\xB0\xD1\x87\n");
    EXPECT_EQ(read("PC config", "COMSettings"), withMark);
    put("[S]\n\xEF\xBB\xBFK=marked\nK=plain\n");
    EXPECT_EQ(read("S", "K"), "plain");
    EXPECT_EQ(read("S", QStringLiteral("\uFEFFK")), "marked");
}

TEST_F(IniProfileTest, BinaryGarbageIsReadAsTextAndKeptByteForByte) {
    QByteArray garbage;
    quint32 state = 12345;
    for (int i = 0; i < 64 * 1024; ++i) {
        state = state * 1103515245u + 12345u;
        garbage.append(char(state >> 24));
    }
    garbage.append('\0');
    put(garbage);
    EXPECT_EQ(read("PC config", "COM"), "dflt");
    EXPECT_TRUE(writeIniString(path, u"PC config", u"COM", "4"));
    const QByteArray after = contents();
    EXPECT_TRUE(after.startsWith(garbage));
    EXPECT_EQ(read("PC config", "COM"), "4");
}

TEST_F(IniProfileTest, FileTooBigIsRefusedAndLeftAlone) {
    const QByteArray big = QByteArray("[PC config]\nCOM=2\n") + QByteArray(10 * 1024 * 1024, 'x');
    put(big);
    EXPECT_FALSE(readIniString(path, u"PC config", u"COM", "1").has_value());
    EXPECT_FALSE(writeIniString(path, u"PC config", u"COM", "3"));
    EXPECT_EQ(contents(), big);

    // Just under the limit is still a file we read.
    QByteArray limit = "[PC config]\nCOM=2\n";
    limit.append(QByteArray(kIniFileMaxSize - limit.size(), '\n'));
    put(limit);
    EXPECT_EQ(read("PC config", "COM"), "2");
}

TEST_F(IniProfileTest, PathThatIsNoFileIsAnError) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("profile.ini"));
    EXPECT_FALSE(readIniString(path, u"S", u"K", "d").has_value());
    EXPECT_FALSE(writeIniString(path, u"S", u"K", "v"));

    // A parent that is a regular file refuses the write even to root.
    const QString underFile = dir.filePath("plain/profile.ini");
    QFile plain(dir.filePath("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(readIniString(underFile, u"S", u"K", "d"), "d");
    EXPECT_FALSE(writeIniString(underFile, u"S", u"K", "v"));
}

}  // namespace
}  // namespace torvix
