#include "settings/config_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include "support/files.h"

namespace torvix {
namespace {

// A program that only reads the file (the command-line client) must never create or change it.
TEST(PortChoice, ReadsTheFileAsItIsAndNeverWritesIt) {
    QTemporaryDir dir;
    const QString path = dir.filePath(ConfigFile::kFileName);

    const auto defaults = readPortChoice(path);
    ASSERT_TRUE(defaults.has_value());
    EXPECT_EQ(defaults->port, 1);
    EXPECT_EQ(defaults->settings, "115200,e,8,1");
    EXPECT_TRUE(defaults->overrides.empty());
    EXPECT_FALSE(QFileInfo::exists(path));

    const QByteArray file =
        "[PC config]\r\nCOM= 05 \r\nCOMSettings=9600,n,8,2\r\n[Ports]\r\nCOM5=/dev/ttyX\r\n"
        "COM17=/dev/ignored\r\n";
    testing::writeFile(path, file);
    const auto chosen = readPortChoice(path);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->port, 5);
    EXPECT_EQ(chosen->settings, "9600,n,8,2");
    EXPECT_EQ(chosen->overrides, (std::map<int, QString>{{5, "/dev/ttyX"}}));
    EXPECT_EQ(testing::readFile(path), file);

    for (const QByteArray& bad :
         {QByteArray("[PC config]\nCOM=5.0\n"), QByteArray("[PC config]\nCOM=256\n")}) {
        testing::writeFile(path, bad);
        EXPECT_FALSE(readPortChoice(path).has_value()) << bad.constData();
    }
    ASSERT_TRUE(QDir(dir.path()).remove(ConfigFile::kFileName));
    ASSERT_TRUE(QDir(dir.path()).mkdir(ConfigFile::kFileName));  // there, but not a file
    EXPECT_FALSE(readPortChoice(path).has_value());
}

}  // namespace
}  // namespace torvix
