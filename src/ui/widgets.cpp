#include "ui/widgets.h"

#include <QFontDatabase>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace torvix {
namespace {

QString cyrillicSansFace() {
    // The first is the face the window was drawn for; the next are near it in width, so the
    // captions fit their fixed boxes. DejaVu Sans, found almost everywhere, is too wide for some.
    static constexpr const char* kFaces[] = {
        "MS Sans Serif", "Microsoft Sans Serif",  "Arial",      "Liberation Sans",
        "Nimbus Sans",   "DejaVu Sans Condensed", "DejaVu Sans"};
    const QStringList installed = QFontDatabase::families(QFontDatabase::Cyrillic);
    for (const char* face : kFaces)
        if (installed.contains(QLatin1String(face), Qt::CaseInsensitive))
            return QLatin1String(face);
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

}  // namespace

QFont captionFont(double pointSize) {
    QFont font(cyrillicSansFace());
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

Lamp::Lamp(const QString& caption, QColor colour, QWidget* parent) : QLabel(caption, parent) {
    QPalette lit = palette();
    lit.setColor(QPalette::Window, colour);
    setPalette(lit);
    setBackgroundRole(QPalette::Window);
    setAccessibleDescription(kDarkText);
}

void Lamp::setLit(bool lit) {
    // Every status reply sets every lamp; repainting unchanged ones doubled a tick's cost.
    if (lit == isLit()) return;
    setAutoFillBackground(lit);
    setAccessibleDescription(lit ? kLitText : kDarkText);
    update();
}

void CaptionButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    painter.drawItemText(contents, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                         option.palette, isEnabled(), caption, QPalette::ButtonText);
}

}  // namespace torvix
