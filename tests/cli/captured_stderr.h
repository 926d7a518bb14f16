#pragma once
// stderr of the process redirected to a file for as long as the object lives.

#include <QFile>
#include <QString>
#include <cstdio>

// POSIX names; MinGW has them too.
#include <unistd.h>

namespace torvix::testing {

// What the program writes on stderr while it lives, read back after.
class CapturedStderr {
public:
    explicit CapturedStderr(const QString& path) : path_(path) {
        std::fflush(stderr);
        saved_ = dup(fileno(stderr));
        file_ = std::fopen(QFile::encodeName(path).constData(), "w");
        dup2(fileno(file_), fileno(stderr));
    }
    ~CapturedStderr() { restore(); }
    QString text() {
        restore();
        QFile file(path_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, fileno(stderr));
        close(saved_);
        std::fclose(file_);
        saved_ = -1;
    }
    QString path_;
    int saved_ = -1;
    std::FILE* file_ = nullptr;
};

}  // namespace torvix::testing
