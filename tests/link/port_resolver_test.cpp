#include "link/port_resolver.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <set>

namespace torvix {
namespace {

// A file system holding exactly the given device nodes, none of them a link.
PortResolver::Lookup devicesPresent(std::set<QString> present) {
    return [present = std::move(present)](const QString& path) {
        return present.contains(path) ? path : QString();
    };
}

TEST(PortResolver, FixedTableMapsComNumbersToLinuxDevices) {
    const std::pair<int, const char*> table[] = {
        {1, "/dev/ttyS0"},   {2, "/dev/ttyS1"},    {4, "/dev/ttyS3"},    {5, "/dev/ttyUSB0"},
        {6, "/dev/ttyUSB1"}, {12, "/dev/ttyUSB7"}, {13, "/dev/ttyACM0"}, {16, "/dev/ttyACM3"},
    };
    for (const auto& [number, path] : table)
        EXPECT_EQ(PortResolver::tablePath(number), path) << number;
    for (const int number : {-1, 0, 17, 255, 256})
        EXPECT_TRUE(PortResolver::tablePath(number).isEmpty());
}

TEST(PortResolver, OverrideWinsAndReachesNumbersBeyondTheTable) {
    const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
    PortResolver resolver(devicesPresent({byId, "/dev/pts/7", "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    resolver.setOverrides({{5, byId}, {200, "/dev/pts/7"}, {0, "/dev/pts/7"}, {256, "/dev/pts/7"}});

    EXPECT_EQ(resolver.resolve(5), byId);
    EXPECT_EQ(resolver.resolve(6), "/dev/ttyUSB1");
    EXPECT_EQ(resolver.resolve(200), "/dev/pts/7");
    EXPECT_TRUE(resolver.resolve(0).isEmpty());
    EXPECT_TRUE(resolver.resolve(256).isEmpty());
    EXPECT_TRUE(resolver.resolve(17).isEmpty());
}

TEST(PortResolver, NumberWithoutDeviceIsRefused) {
    PortResolver resolver(devicesPresent({"/dev/ttyS0"}));
    resolver.setOverrides({{20, "/dev/serial/by-id/unplugged"}});
    EXPECT_EQ(resolver.resolve(1), "/dev/ttyS0");
    EXPECT_TRUE(resolver.resolve(2).isEmpty());
    EXPECT_EQ(resolver.devicePath(20), "/dev/serial/by-id/unplugged");
    EXPECT_TRUE(resolver.resolve(20).isEmpty());
}

TEST(PortResolver, SymlinkAndTargetAreTheSamePort) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("ttyUSB0");
    const QString link = dir.filePath("usb-FTDI-if00");
    QFile device(target);
    ASSERT_TRUE(device.open(QIODevice::WriteOnly));
    device.close();
    ASSERT_TRUE(QFile::link(target, link));

    PortResolver resolver;
    resolver.setOverrides({{5, link}, {6, target}});
    const QString canonicalTarget = QDir(dir.path()).canonicalPath() + "/ttyUSB0";
    EXPECT_EQ(resolver.resolve(5), canonicalTarget);
    EXPECT_EQ(resolver.resolve(6), canonicalTarget);

    ASSERT_TRUE(QFile::remove(target));  // a link left dangling names no device
    EXPECT_TRUE(resolver.resolve(5).isEmpty());
    EXPECT_TRUE(resolver.resolve(6).isEmpty());
}

}  // namespace
}  // namespace torvix
