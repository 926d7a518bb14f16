#pragma once
// The main window's controls as the end-to-end tests find and read them.

#include <gtest/gtest.h>

#include <QLabel>
#include <QString>
#include <QTest>
#include <QVariant>
#include <QWidget>

namespace torvix::testing {

// By objectName and, for an element of a control array, its "index" property.
inline QWidget* findControl(QWidget& window, const QString& name, int index = -1) {
    for (QWidget* widget : window.findChildren<QWidget*>(name)) {
        const QVariant element = widget->property("index");
        if (index < 0 ? !element.isValid() : element.isValid() && element.toInt() == index)
            return widget;
    }
    ADD_FAILURE() << "no control " << name.toStdString() << "(" << index << ")";
    return nullptr;
}

inline QString labelText(QWidget& window, const QString& name, int index = -1) {
    auto* label = qobject_cast<QLabel*>(findControl(window, name, index));
    return label ? label->text() : QString();
}

inline QString statusLineText(QWidget& window) {
    return labelText(window, QStringLiteral("lbl_sys_mes"));
}

inline bool waitForStatusLine(QWidget& window, const QString& text, int ms) {
    return QTest::qWaitFor([&] { return statusLineText(window) == text; }, ms);
}

}  // namespace torvix::testing
