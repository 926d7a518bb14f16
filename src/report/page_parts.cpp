#include "report/page_parts.h"

#include <QBuffer>
#include <QSaveFile>

namespace torvix::report {
namespace {

constexpr int kPngQuality = 80;

}  // namespace

QString html(const QString& text) {
    return text.toHtmlEscaped();
}

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // A plot has far fewer than 256 colours: as a palette image it costs libpng a quarter of
    // the bytes, and a fast zlib level packs its flat colours well. An hour-long test has
    // dozens of plots.
    image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
        .save(&buffer, "PNG", kPngQuality);
    return bytes;
}

QString imgTag(const QByteArray& png, const QString& id, const QString& cls, const QString& alt) {
    return QStringLiteral(
               "<img id=\"%1\" class=\"%2\" alt=\"%3\" src=\"data:image/png;base64,%4\">\n")
        .arg(id, cls, html(alt), QString::fromLatin1(png.toBase64()));
}

QString save(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return {};
}

}  // namespace torvix::report
