#include "text_client/widgets/not_ready_dialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"

namespace ecr {

TfmTimeOut::TfmTimeOut(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("fmTimeOut"));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    setWindowModality(Qt::ApplicationModal);

    Lbl = new QLabel(this);
    Lbl->setObjectName(QStringLiteral("Lbl"));
    Lbl->setAlignment(Qt::AlignCenter);
    QFont bold = Lbl->font();
    bold.setBold(true);
    Lbl->setFont(bold);

    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnRetry = new QPushButton(QStringLiteral("&Retry"), this);
    btnRetry->setObjectName(QStringLiteral("btnRetry"));
    btnRetry->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnRetry);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Lbl);
    layout->addLayout(buttons);

    connect(btnCancel, &QPushButton::clicked, this, [this] { done(mrCancel); });
    connect(btnRetry, &QPushButton::clicked, this, [this] { done(mrRetry); });
}

TfmTimeOut::~TfmTimeOut() { UnbindDeactivation(); }

void TfmTimeOut::ShowText(const QString& text) {
    setWindowTitle(ApplicationTitle());
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Lbl->setText(shown);
    quiet_ = false;
    BindDeactivation();
    show();
    raise();
    activateWindow();
    btnRetry->setFocus();
}

void TfmTimeOut::CloseQuietly() {
    if (!isVisible()) return;
    quiet_ = true;
    done(mrRetry);
    quiet_ = false;
}

void TfmTimeOut::done(int result) {
    const bool wasShown = isVisible();
    UnbindDeactivation();
    QDialog::done(result);
    if (!wasShown || quiet_ || !OnAnswer) return;
    OnAnswer(result == mrRetry ? NotReadyAnswer::Retry : NotReadyAnswer::Cancel);
}

void TfmTimeOut::BindDeactivation() {
    if (deactivation_) return;
    deactivation_ = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                            [this](Qt::ApplicationState state) {
                                if (state != Qt::ApplicationActive && isVisible()) {
                                    raise();
                                    activateWindow();
                                }
                            });
}

void TfmTimeOut::UnbindDeactivation() {
    if (deactivation_) disconnect(deactivation_);
    deactivation_ = {};
}

}  // namespace ecr
