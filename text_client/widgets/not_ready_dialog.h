#pragma once

// TfmTimeOut, the not-ready dialog: a register has not answered a line for the configured
// time. It shows the text in bold, centred, with "&Cancel" and "&Retry" (the default), stays
// on top of other windows and, while it is shown, takes the focus back whenever the
// application is deactivated.
//
// The dialog is application-modal but shown without a nested event loop: ShowText returns
// at once and the user's answer comes through OnAnswer. Escape and the close box answer
// Cancel. CloseQuietly closes it without an answer (the selling loop takes that as Retry).
//
// Threads: main thread only.

#include <QDialog>
#include <QMetaObject>

#include <functional>

#include "text_client/selling_loop_host.h"

class QLabel;
class QPushButton;

namespace ecr {

inline constexpr int kNotReadyHelpContext = 100;

class TfmTimeOut : public QDialog {
    Q_OBJECT

public:
    static constexpr int mrRetry = 4;

    explicit TfmTimeOut(QWidget* parent = nullptr);
    ~TfmTimeOut() override;

    // Caption := the application title; shows `text` (CR LF ends a line).
    void ShowText(const QString& text);
    void CloseQuietly();

    int HelpContext() const { return kNotReadyHelpContext; }

    std::function<void(NotReadyAnswer)> OnAnswer;

    QLabel* Lbl = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnRetry = nullptr;

public slots:
    void done(int result) override;

private:
    void BindDeactivation();
    void UnbindDeactivation();

    bool quiet_ = false;
    QMetaObject::Connection deactivation_;
};

}  // namespace ecr
