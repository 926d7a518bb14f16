#pragma once
// Standard output and error as torvix-cli uses them: UTF-8, flushed at once.

#include <QString>
#include <cstdio>

#if defined(Q_OS_WIN) || defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace torvix::cli {

inline bool isTerminal(std::FILE* stream) {
#if defined(Q_OS_WIN) || defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

inline bool put(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    const bool ok = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) ==
                    std::size_t(bytes.size());
    return std::fflush(stream) == 0 && ok;
}

// A message for the user, on stderr.
inline void tell(const QString& text) {
    put(stderr, QStringLiteral("torvix-cli: ") + text + u'\n');
}

}  // namespace torvix::cli
