#pragma once
// The small dialog behind "Отчёт": the protocol's identification and HTML or PDF, the last
// values offered again from a file of its own beside тп.ini (тп.ini itself stays untouched).

#include <QDialog>
#include <QString>
#include <optional>

#include "analysis/acceptance.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace torvix {

struct ReportRequest {
    analysis::Identification identification;
    bool pdf = false;
};

class ReportDialog : public QDialog {
public:
    // `settingsPath`: the INI file the last values are read from and, on OK, written to.
    ReportDialog(QString settingsPath, QWidget* parent = nullptr);

    ReportRequest request() const;
    void accept() override;

    // The name of that file, beside тп.ini.
    static inline const QString kFileName = QStringLiteral("отчёт.ini");

private:
    QString settingsPath_;
    QLineEdit* title_;
    QLineEdit* set_;
    QLineEdit* customer_;
    QLineEdit* site_;
    QLineEdit* engineer_;
    QPlainTextEdit* note_;
    QComboBox* format_;
};

// Shows the dialog; empty when the operator cancels.
std::optional<ReportRequest> askForReport(const QString& settingsPath, QWidget* parent);

}  // namespace torvix
