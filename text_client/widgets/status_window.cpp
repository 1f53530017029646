#include "text_client/widgets/status_window.h"

#include <QFormLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

#include <stdexcept>

#include "foundation/log_file.h"
#include "foundation/widgets/msg_box.h"

namespace ecr {
namespace {

void Paint(QLineEdit* field, const std::string& text, bool good) {
    field->setText(QString::fromStdString(text));
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, good ? QColor(0, 128, 0) : QColor(255, 0, 0));
    field->setPalette(palette);
}

QLineEdit* ReadOnlyField(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setReadOnly(true);
    return field;
}

}  // namespace

std::string StateStatusText(const ClientStatus& status) {
    if (status.started) return "Started";
    return status.stopReason.empty() ? "Stopped" : "Stopped: " + status.stopReason;
}

std::string ServerStatusText(const ClientStatus& status) {
    return "IP: " + status.address + "  Port: " + std::to_string(status.port) +
           "  ver.: " + status.serverVersion;
}

std::string PassedOverStatusText(const ClientStatus& status) {
    std::string text;
    for (const std::string& file : status.passedOver) text += (text.empty() ? "" : "; ") + file;
    return text;
}

TfmStatus::TfmStatus(Source source, QWidget* parent) : QDialog(parent), source_(std::move(source)) {
    setObjectName(QStringLiteral("fmStatus"));
    setMinimumSize(300, 200);
    setSizeGripEnabled(true);

    pnlStatus = new QWidget(this);
    pnlStatus->setObjectName(QStringLiteral("pnlStatus"));
    pnlStatus->setFocusPolicy(Qt::StrongFocus);
    eState = ReadOnlyField("eState", pnlStatus);
    eServer = ReadOnlyField("eServer", pnlStatus);
    ePath = ReadOnlyField("ePath", pnlStatus);
    ePassedOver = ReadOnlyField("ePassedOver", pnlStatus);
    auto* rows = new QFormLayout(pnlStatus);
    rows->addRow(QStringLiteral("Status:"), eState);
    rows->addRow(QStringLiteral("Selvaro:"), eServer);
    rows->addRow(QStringLiteral("Input Path:"), ePath);
    rows->addRow(QStringLiteral("Passed over:"), ePassedOver);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pnlStatus);
    layout->addStretch();
}

void TfmStatus::RefreshStatus() {
    setWindowTitle(ApplicationTitle());
    const ClientStatus status = source_ ? source_() : ClientStatus{};
    Paint(eState, StateStatusText(status), status.started);
    Paint(eServer, ServerStatusText(status), status.connected);
    Paint(ePath, status.inputPath, true);
    // A file passed over waits for a person.
    Paint(ePassedOver, PassedOverStatusText(status), status.passedOver.empty());
    pnlStatus->setFocus();
}

void TfmStatus::RefreshStatusIfShown() {
    if (isVisible()) RefreshStatus();
}

void TfmStatus::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    RefreshStatus();
}

void TfmStatus::keyPressEvent(QKeyEvent* event) {
    // An exception must not cross the event loop: the application's error box shows it here.
    try {
        FormKeyDown(event);
    } catch (const std::exception& error) {
        LogException("TfmStatus.FormKeyDown", error);
        ShowMsgBox(this, QString::fromStdString(error.what()), kMsgError);
        return;
    }
    QDialog::keyPressEvent(event);  // Escape closes the window
}

void TfmStatus::FormKeyDown(QKeyEvent* event) {
    const Qt::KeyboardModifiers all = Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier;
    if (event->key() == Qt::Key_F7 && (event->modifiers() & all) == all) {
        throw std::runtime_error(kStatusTestExceptionText);
    }
}

}  // namespace ecr
