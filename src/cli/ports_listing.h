#pragma once
// The port numbers 1..16 with the device each stands for and whether it can be opened.

#include <QString>
#include <map>

namespace torvix::cli {

// One line per port: "COM5   busy     /dev/ttyUSB0"; the state words are free, busy, denied,
// missing and error. Each existing port is opened for a moment to find out.
QString portsListing(const std::map<int, QString>& overrides);

}  // namespace torvix::cli
