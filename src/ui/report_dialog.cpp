#include "ui/report_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace torvix {
namespace {

// Keys of the settings file; the format as a word, so the file reads plainly.
constexpr const char* kGroup = "report";
constexpr const char* kFormat = "format";

QLineEdit* lineEdit(const char* name, const QString& value) {
    auto* edit = new QLineEdit(value);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMinimumWidth(360);
    return edit;
}

}  // namespace

ReportDialog::ReportDialog(QString settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(std::move(settingsPath)) {
    setWindowTitle(QStringLiteral("Отчёт"));
    QSettings settings(settingsPath_, QSettings::IniFormat);
    settings.beginGroup(QString::fromLatin1(kGroup));
    const auto last = [&settings](const char* key) {
        return settings.value(QString::fromLatin1(key)).toString();
    };
    title_ = lineEdit("edit_title", last("title"));
    title_->setPlaceholderText(QStringLiteral("Протокол нагрузочного испытания по ISO 8528-5"));
    set_ = lineEdit("edit_set", last("set"));
    set_->setPlaceholderText(QStringLiteral("тип и заводской номер"));
    customer_ = lineEdit("edit_customer", last("customer"));
    site_ = lineEdit("edit_site", last("site"));
    engineer_ = lineEdit("edit_engineer", last("engineer"));
    note_ = new QPlainTextEdit(last("note"));
    note_->setObjectName(QStringLiteral("edit_note"));
    note_->setFixedHeight(72);
    format_ = new QComboBox;
    format_->setObjectName(QStringLiteral("combo_format"));
    format_->addItem(QStringLiteral("HTML — открыть в браузере"), QStringLiteral("html"));
    format_->addItem(QStringLiteral("PDF — страницы A4 для печати и подписи"),
                     QStringLiteral("pdf"));
    format_->setCurrentIndex(last(kFormat) == u"pdf" ? 1 : 0);
    settings.endGroup();

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Название:"), title_);
    form->addRow(QStringLiteral("Агрегат:"), set_);
    form->addRow(QStringLiteral("Заказчик:"), customer_);
    form->addRow(QStringLiteral("Объект:"), site_);
    form->addRow(QStringLiteral("Испытатель:"), engineer_);
    form->addRow(QStringLiteral("Примечание:"), note_);
    form->addRow(QStringLiteral("Вид:"), format_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Составить"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

ReportRequest ReportDialog::request() const {
    return {.identification = {.title = title_->text().trimmed(),
                               .set = set_->text().trimmed(),
                               .customer = customer_->text().trimmed(),
                               .site = site_->text().trimmed(),
                               .engineer = engineer_->text().trimmed(),
                               .note = note_->toPlainText().trimmed()},
            .pdf = format_->currentData().toString() == u"pdf"};
}

void ReportDialog::accept() {
    const ReportRequest r = request();
    QSettings settings(settingsPath_, QSettings::IniFormat);
    settings.beginGroup(QString::fromLatin1(kGroup));
    settings.setValue(QStringLiteral("title"), r.identification.title);
    settings.setValue(QStringLiteral("set"), r.identification.set);
    settings.setValue(QStringLiteral("customer"), r.identification.customer);
    settings.setValue(QStringLiteral("site"), r.identification.site);
    settings.setValue(QStringLiteral("engineer"), r.identification.engineer);
    settings.setValue(QStringLiteral("note"), r.identification.note);
    settings.setValue(QString::fromLatin1(kFormat),
                      r.pdf ? QStringLiteral("pdf") : QStringLiteral("html"));
    settings.endGroup();
    QDialog::accept();
}

std::optional<ReportRequest> askForReport(const QString& settingsPath, QWidget* parent) {
    ReportDialog dialog(settingsPath, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.request();
}

}  // namespace torvix
