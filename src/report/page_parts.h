#pragma once
// What every self-contained HTML page of ours is made of: escaped text, plots as embedded PNG
// data, and a file written whole or not at all.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace torvix::report {

QString html(const QString& text);
QByteArray pngOf(const QImage& image);
QString imgTag(const QByteArray& png, const QString& id, const QString& cls, const QString& alt);
// Empty, or what went wrong.
QString save(const QString& path, const QByteArray& bytes);

}  // namespace torvix::report
