#include "text_client/widgets/settings_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <limits>

#include "foundation/utf8_bytes.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/password_edit.h"
#include "platform/ini_file.h"
#include "text_client/client_startup.h"
#include "text_client/output_target.h"

namespace ecr {
namespace {

constexpr std::size_t kMaxShortString = 255;

std::string FieldBytes(const QLineEdit* field) {
    return CutUtf8ToBytes(field->text().toStdString(), kMaxShortString);
}

QString Text(const std::string& bytes) { return QString::fromStdString(bytes); }

// The field read as an integer (decimal, or hexadecimal after "$" or "0x"); nothing when it
// is no number or does not fit 32 bits.
std::optional<int> FieldInteger(const QLineEdit* field) {
    std::optional<std::int64_t> value = ParseIniInteger(field->text().trimmed().toStdString());
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

QLineEdit* Field(const char* name, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    return field;
}

// A password entry that takes no more UTF-8 bytes than the password keeps.
QLineEdit* PasswordField(const char* name, QWidget* parent) {
    return NewPasswordEdit(QString::fromLatin1(name), parent, 32767, kMaxPasswordBytes);
}

QButtonGroup* RadioGroup(const char* name, const QString& title, const QStringList& items,
                         int columns, QWidget* page, QVBoxLayout* into) {
    auto* box = new QGroupBox(title, page);
    auto* grid = new QGridLayout(box);
    auto* group = new QButtonGroup(page);
    group->setObjectName(QString::fromLatin1(name));
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], box);
        grid->addWidget(button, i / columns, i % columns);
        group->addButton(button, i);
    }
    into->addWidget(box);
    return group;
}

QWidget* WithButton(QLineEdit* field, QPushButton* button, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(field);
    layout->addWidget(button);
    return row;
}

}  // namespace

TfmAllCfg::TfmAllCfg(ClientSettings& settings, ClientPasswords& passwords, QWidget* parent)
    : QDialog(parent), settings_(settings), passwords_(passwords) {
    setObjectName(QStringLiteral("fmAllCfg"));
    setMinimumSize(427, 304);
    setSizeGripEnabled(true);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));

    auto* server = new QWidget(PageControl);
    auto* serverRows = new QFormLayout(server);
    eAdr = Field("eAdr", server);
    ePort = Field("ePort", server);
    eSysPW = PasswordField("eSysPW", server);
    eRecPW = PasswordField("eRecPW", server);
    eTO = Field("eTO", server);
    serverRows->addRow(QStringLiteral("Server IP Address:"), eAdr);
    serverRows->addRow(QStringLiteral("Server IP Port:"), ePort);
    serverRows->addRow(QStringLiteral("System Password:"), eSysPW);
    serverRows->addRow(QStringLiteral("Server Login Password:"), eRecPW);
    serverRows->addRow(QStringLiteral("ECR Timeout (sec):"), eTO);
    PageControl->addTab(server, QStringLiteral("Server"));

    auto* directories = new QWidget(PageControl);
    auto* directoryRows = new QFormLayout(directories);
    eInpP = Field("eInpP", directories);
    BitBtnInpBr = new QPushButton(QStringLiteral("..."), directories);
    BitBtnInpBr->setObjectName(QStringLiteral("BitBtnInpBr"));
    eInpE = Field("eInpE", directories);
    eOutP = Field("eOutP", directories);
    BitBtn1 = new QPushButton(QStringLiteral("..."), directories);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    eOutE = Field("eOutE", directories);
    directoryRows->addRow(QStringLiteral("Input Path:"), WithButton(eInpP, BitBtnInpBr, directories));
    directoryRows->addRow(QStringLiteral("Input Extension:"), eInpE);
    directoryRows->addRow(QStringLiteral("Output Path:"), WithButton(eOutP, BitBtn1, directories));
    directoryRows->addRow(QStringLiteral("Output Extension:"), eOutE);
    PageControl->addTab(directories, QStringLiteral("Directories"));

    auto* encoding = new QWidget(PageControl);
    auto* encodingColumn = new QVBoxLayout(encoding);
    rgEncoding = RadioGroup("rgEncoding", QStringLiteral("Encoding"),
                            {QStringLiteral("DOS"), QStringLiteral("WINDOWS")}, 2, encoding,
                            encodingColumn);
    rgAction = RadioGroup("rgAction", QStringLiteral("Output Actions"),
                          {QStringLiteral("Replace existing"), QStringLiteral("Append existing"),
                           QStringLiteral("Generate unique"), QStringLiteral("No output")},
                          1, encoding, encodingColumn);
    encodingColumn->addStretch();
    PageControl->addTab(encoding, QStringLiteral("Encoding and Actions"));

    auto* options = new QWidget(PageControl);
    auto* optionsColumn = new QVBoxLayout(options);
    cbSELL_with_PLU = new QCheckBox(QStringLiteral("Use command SELL with PLU code from input file"), options);
    cbSELL_with_PLU->setObjectName(QStringLiteral("cbSELL_with_PLU"));
    optionsColumn->addWidget(cbSELL_with_PLU);
    optionsColumn->addStretch();
    PageControl->addTab(options, QStringLiteral("Options"));

    BitBtnOk = new QPushButton(QStringLiteral("OK"), this);
    BitBtnOk->setObjectName(QStringLiteral("BitBtnOk"));
    BitBtnOk->setDefault(true);
    BitBtnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtnCancel->setObjectName(QStringLiteral("BitBtnCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtnOk);
    buttons->addWidget(BitBtnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl);
    layout->addLayout(buttons);

    connect(BitBtnOk, &QPushButton::clicked, this, &TfmAllCfg::BitBtnOkClick);
    connect(BitBtnCancel, &QPushButton::clicked, this, &TfmAllCfg::reject);
    connect(BitBtnInpBr, &QPushButton::clicked, this, &TfmAllCfg::BitBtnInpBrClick);
    connect(BitBtn1, &QPushButton::clicked, this, &TfmAllCfg::BitBtn1Click);
    connect(PageControl, &QTabWidget::currentChanged, this, &TfmAllCfg::PageControlChange);
}

void TfmAllCfg::FillFields() {
    eAdr->setText(Text(settings_.Address));
    ePort->setText(QString::number(settings_.Port));
    eSysPW->setText(Text(passwords_.SystemPassword()));
    eRecPW->setText(Text(passwords_.LoginPassword()));
    eTO->setText(QString::number(settings_.TimeOut));
    eInpP->setText(Text(settings_.InputPath));
    eInpE->setText(Text(settings_.InputExt));
    eOutP->setText(Text(settings_.OutputPath));
    eOutE->setText(Text(settings_.OutputExt));
    cbSELL_with_PLU->setChecked(settings_.SELL_WITH_EXT_PLU);
    rgEncoding->button(settings_.Encoding == TextEncoding::Dos ? 0 : 1)->setChecked(true);
    int action = 3;
    if (settings_.Action == "REPLACE") action = 0;
    else if (settings_.Action == "APPEND") action = 1;
    else if (settings_.Action == "UNIQUE") action = 2;
    rgAction->button(action)->setChecked(true);
    setWindowTitle(ApplicationTitle());
    PageControl->setCurrentIndex(0);
    PageControlChange(0);
}

int TfmAllCfg::ShowSettings() {
    FillFields();
    return exec();
}

void TfmAllCfg::Refuse(QWidget* page, QLineEdit* field, const QString& text) {
    PageControl->setCurrentWidget(page);
    field->setFocus();
    ShowMsgBox(this, text, kMsgError);
}

void TfmAllCfg::BitBtnOkClick() {
    QWidget* serverPage = PageControl->widget(0);
    QWidget* directoriesPage = PageControl->widget(1);

    settings_.Address = FieldBytes(eAdr);
    const int port = FieldInteger(ePort).value_or(ClientSettings::kDefaultPort);
    const bool portInRange = port >= 0 && port <= 65535;
    if (portInRange) settings_.Port = port;
    passwords_.SetSystemPassword(FieldBytes(eSysPW));
    passwords_.SetLoginPassword(FieldBytes(eRecPW));
    if (!portInRange) {
        Refuse(serverPage, ePort,
               QStringLiteral("Invalid port value !\r\nPlease enter value between %1 and %2.")
                   .arg(0).arg(65535));
        return;
    }

    const int timeOut = FieldInteger(eTO).value_or(0);
    if (timeOut < ClientSettings::kMinTimeOut || timeOut > ClientSettings::kMaxTimeOut) {
        Refuse(serverPage, eTO,
               QStringLiteral("Invalid timeout vaule !\r\nPlease enter value between %1 and %2.")
                   .arg(ClientSettings::kMinTimeOut)
                   .arg(ClientSettings::kMaxTimeOut));
        return;
    }
    settings_.TimeOut = timeOut;

    for (QLineEdit* folder : {eInpP, eOutP}) {
        if (folder->text().isEmpty()) {
            Refuse(directoriesPage, folder, QStringLiteral("Please enter a folder."));
            return;
        }
    }
    for (QLineEdit* folder : {eInpP, eOutP}) {
        if (!folder->text().endsWith(QLatin1Char('/'))) folder->setText(folder->text() + QLatin1Char('/'));
    }
    ClientSettings taken = settings_;
    taken.InputPath = WithFinalSlash(FieldBytes(eInpP));
    taken.InputExt = FieldBytes(eInpE);
    taken.OutputPath = WithFinalSlash(FieldBytes(eOutP));
    taken.OutputExt = FieldBytes(eOutE);
    taken.Encoding = rgEncoding->checkedId() == 0 ? TextEncoding::Dos : TextEncoding::Windows;
    static const char* const kActions[] = {"REPLACE", "APPEND", "UNIQUE", "NO_OUTPUT"};
    const int action = rgAction->checkedId();
    taken.Action = kActions[action >= 0 && action <= 3 ? action : 3];
    taken.SELL_WITH_EXT_PLU = cbSELL_with_PLU->isChecked();
    if (OutputNamesInputFiles(taken)) {
        Refuse(directoriesPage, eOutE,
               QStringLiteral("Invalid output folder or extension !\r\n"
                              "The output files would be taken as input files.\r\n"
                              "Please enter another output folder or extension."));
        return;
    }
    settings_ = std::move(taken);
    accept();
}

QString TfmAllCfg::PickFolder(const QString& start, bool forSaving) {
    QFileDialog dialog(this);
    dialog.setObjectName(forSaving ? QStringLiteral("sdLocation") : QStringLiteral("odLocation"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (forSaving) dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setSizeGripEnabled(true);
    if (QFileInfo(start).isDir()) dialog.setDirectory(start);
    dialog.selectFile(QStringLiteral("Location"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    QString folder = QFileInfo(dialog.selectedFiles().first()).absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return folder;
}

void TfmAllCfg::BitBtnInpBrClick() {
    const QString folder = PickFolder(eInpP->text(), false);
    if (!folder.isEmpty()) eInpP->setText(folder);
}

void TfmAllCfg::BitBtn1Click() {
    const QString folder = PickFolder(eOutP->text(), true);
    if (!folder.isEmpty()) eOutP->setText(folder);
}

void TfmAllCfg::PageControlChange(int page) {
    static constexpr int kContexts[] = {kServerPageHelpContext, kDirectoriesPageHelpContext,
                                        kEncodingPageHelpContext, 0};
    helpContext_ = page >= 0 && page < 4 ? kContexts[page] : 0;
}

}  // namespace ecr
