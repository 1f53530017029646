#pragma once

// TfmAllCfg, the settings dialog of the selling client, reached through the system password.
// Four pages (Server, Directories, Encoding and Actions, Options) edit the values in force;
// OK takes them over with these checks, each of which keeps the dialog open with an error box:
// - a port outside 0..65535 is not taken over;
// - a timeout outside 1..10000 seconds is not taken over;
// - an empty input or output folder is not taken over;
// - an output folder and extension under which the output action's files would be found as
//   input files (the same folder, and names matching "*." + the input extension) are not
//   taken over.
// The address, the port and the passwords are taken over before the checks, so that they
// stay in force when the dialog is then left with Cancel; nothing after the timeout is
// taken over until every check passes.
//
// Texts typed into the fields are kept as UTF-8 bytes, each cut to whole characters within
// 255 bytes; the password entries take no more than that.
//
// Threads: main thread only.

#include <QDialog>

#include "text_client/client_settings.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace ecr {

inline constexpr int kServerPageHelpContext = 3010;
inline constexpr int kDirectoriesPageHelpContext = 3020;
inline constexpr int kEncodingPageHelpContext = 3030;

class TfmAllCfg : public QDialog {
    Q_OBJECT

public:
    // `settings` and `passwords` are the values in force; OK writes into them.
    TfmAllCfg(ClientSettings& settings, ClientPasswords& passwords, QWidget* parent = nullptr);

    // Fills the fields from the values in force, makes the Server page active and runs the
    // dialog modally; returns its result (Accepted after OK).
    int ShowSettings();
    // The filling part of ShowSettings.
    void FillFields();

    void BitBtnOkClick();
    void BitBtnInpBrClick();  // pick the input folder
    void BitBtn1Click();      // pick the output folder
    void PageControlChange(int page);

    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int context) { helpContext_ = context; }

    QTabWidget* PageControl = nullptr;
    QLineEdit* eAdr = nullptr;
    QLineEdit* ePort = nullptr;
    QLineEdit* eSysPW = nullptr;
    QLineEdit* eRecPW = nullptr;
    QLineEdit* eTO = nullptr;
    QLineEdit* eInpP = nullptr;
    QPushButton* BitBtnInpBr = nullptr;
    QLineEdit* eInpE = nullptr;
    QLineEdit* eOutP = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QLineEdit* eOutE = nullptr;
    QButtonGroup* rgEncoding = nullptr;  // ids 0 DOS, 1 WINDOWS
    QButtonGroup* rgAction = nullptr;    // ids 0 replace, 1 append, 2 unique, 3 no output
    QCheckBox* cbSELL_with_PLU = nullptr;
    QPushButton* BitBtnOk = nullptr;
    QPushButton* BitBtnCancel = nullptr;

private:
    void Refuse(QWidget* page, QLineEdit* field, const QString& text);
    QString PickFolder(const QString& start, bool forSaving);

    ClientSettings& settings_;
    ClientPasswords& passwords_;
    int helpContext_ = 0;
};

}  // namespace ecr
