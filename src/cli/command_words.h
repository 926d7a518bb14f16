#pragma once
// The operator's commands as `send` and scripts name them: "start", "load on", "priority 5".

#include <QString>
#include <QStringList>
#include <variant>

#include "protocol/request_table.h"

namespace torvix::cli {

// The request the words name: one of the window's commands; the status read and counter write
// are not commands. Otherwise the message the CLI prints, e.g.
// `send: неизвестная команда "load up"`.
std::variant<requests::Request, QString> parseCommandWords(const QStringList& words);

}  // namespace torvix::cli
