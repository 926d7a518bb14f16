#pragma once
// The few widget kinds of the main window that Qt does not have as such.

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QString>

namespace torvix {

// "MS Sans Serif" where installed, else a sans face with Cyrillic glyphs; normal weight.
QFont captionFont(double pointSize);
// The window's own font, which the controls marked "default" use.
inline constexpr double kWindowPointSize = 8.25;

// A label whose fixed colour shows only while it is lit; dark, the window shows through.
class Lamp : public QLabel {
    Q_OBJECT
public:
    static inline const QString kLitText = QStringLiteral("горит");
    static inline const QString kDarkText = QStringLiteral("не горит");

    Lamp(const QString& caption, QColor colour, QWidget* parent);

    void setLit(bool lit);
    bool isLit() const { return autoFillBackground(); }
    QColor colour() const { return palette().color(QPalette::Window); }
};

// A push button that wraps a caption too long for one line ("Соседняя Секция").
class CaptionButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace torvix
