// The shared dialogs, contact panels and message boxes under the real Bulgarian module the
// build lays beside the register server: Bulgarian texts while it is installed, the
// system's English texts without it.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "foundation/widgets/contact_panels.h"
#include "foundation/widgets/lang_sel_dialog.h"
#include "foundation/widgets/modal_result.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"
#include "server_app/language_module.h"
#include "tests/server_app/window_test_support.h"

namespace ecr {
namespace {

using window_test::BoxRecorder;
using window_test::WhenModal;

std::string BuiltBulgarianModule() {
  return (std::filesystem::path(ECR_HARBENDIX_PATH).parent_path() / "harbendix.BGR").string();
}

// The module for the lifetime of the object; none at all when `bulgarian` is false.
std::unique_ptr<LanguageModule> InstallLanguage(bool bulgarian) {
  auto module = std::make_unique<LanguageModule>();
  if (bulgarian) {
    EXPECT_TRUE(module->InstallFirst({BuiltBulgarianModule()})) << BuiltBulgarianModule();
  }
  return module;
}

using ShownTexts = std::map<std::string, QString>;

// Opens every shared dialog and panel the way the programs do, provokes the boxes they
// show, and collects what a user reads. Saves pictures when `pictureSuffix` is given.
ShownTexts CollectShownTexts(const std::string& pictureSuffix) {
  ShownTexts shown;
  BoxRecorder boxes;
  auto picture = [&](QWidget& window, const char* name) {
    if (!pictureSuffix.empty()) window_test::SavePicture(window, name + pictureSuffix);
  };

  TfmPassword password;
  WhenModal([&] {
    shown["password prompt"] = password.findChild<QLabel*>()->text();
    shown["password OK"] = password.BitBtnOK->text();
    shown["password Cancel"] = password.BitBtnCancel->text();
    password.ePassword->setText("wrong");
    picture(password, "password_dialog");
    password.BitBtnOK->click();
    password.BitBtnCancel->click();
  });
  EXPECT_EQ(password.AskPassword("right"), mrCancel);
  shown["password refused"] = boxes.texts.empty() ? QString() : QString::fromStdString(boxes.texts.back());

  TfmOffset offset;
  std::int32_t value = 5;
  WhenModal([&] {
    shown["offset prompt"] = offset.findChild<QLabel*>()->text();
    shown["offset OK"] = offset.BitBtnOK->text();
    shown["offset Cancel"] = offset.BitBtncancel->text();
    picture(offset, "offset_dialog");
    offset.eOffset->setText("0");
    offset.BitBtnOK->click();
    offset.BitBtncancel->click();
  });
  EXPECT_EQ(offset.EditOffset(value), mrCancel);
  shown["offset refused"] = boxes.texts.empty() ? QString() : QString::fromStdString(boxes.texts.back());

  TfmLangSel codeTables;
  int codeTable = 1;
  WhenModal([&] {
    // The table's name is the code table's own; only the words around it are the dialog's.
    shown["code table current"] = codeTables.lblCurrLng->text().section(": ", 0, 0);
    shown["code table group"] = codeTables.gbAvailable->title();
    shown["code table OK"] = codeTables.OKBtn->text();
    shown["code table Cancel"] = codeTables.CancelBtn->text();
    picture(codeTables, "code_table_dialog");
    codeTables.CancelBtn->click();
  });
  EXPECT_EQ(codeTables.SelectCodeTable(codeTable), mrCancel);

  TfrCompanyInfoKv maker;
  TfrCompanyInfoZq registerMaker;
  maker.show();
  registerMaker.show();
  picture(maker, "contact_panel_maker");
  picture(registerMaker, "contact_panel_register_maker");
  shown["maker phone"] = maker.lblPhone->text();
  shown["maker fax"] = maker.lblFax->text();
  shown["maker mail"] = maker.lblMailCaption->text();
  shown["register maker phone"] = registerMaker.lblPhone->text();
  shown["register maker fax"] = registerMaker.lblFax->text();
  shown["register maker mail"] = registerMaker.lblMailCaption->text();
  return shown;
}

struct ExpectedText {
  const char* where;
  const char* english;
  const char* bulgarian;
};

const ExpectedText kSharedTexts[] = {
    {"password prompt", "Enter administrator password:", "Въведете паролата на администратора:"},
    {"password OK", "OK", "OK"},
    {"password Cancel", "Cancel", "Отказ"},
    {"password refused", "Incorrect Password", "Грешна парола"},
    {"offset prompt", "Offset:", "Отместване:"},
    {"offset OK", "OK", "OK"},
    {"offset Cancel", "Cancel", "Отказ"},
    {"offset refused", "Bad number!", "Невалидно число!"},
    {"code table current", "Current code table", "Текуща кодова таблица"},
    {"code table group", "Available code tables", "Налични кодови таблици"},
    {"code table OK", "OK", "OK"},
    {"code table Cancel", "Cancel", "Отказ"},
    {"maker phone", "Phone: +1 555 0142", "Телефон: +1 555 0142"},
    {"maker fax", "Fax: +1 555 0143", "Факс: +1 555 0143"},
    {"maker mail", "e-mail:", "Ел. поща:"},
    {"register maker phone", "Phone: +1 555 0177", "Телефон: +1 555 0177"},
    {"register maker fax", "Fax: +1 555 0178", "Факс: +1 555 0178"},
    {"register maker mail", "e-mail:", "Ел. поща:"},
};

TEST(BulgarianSharedDialogs, ShowTheModulesTextsAndTheSystemsEnglishWithoutIt) {
  for (const bool bulgarian : {true, false}) {
    SCOPED_TRACE(bulgarian ? "Bulgarian module" : "built-in texts");
    const auto module = InstallLanguage(bulgarian);
    const ShownTexts shown = CollectShownTexts(bulgarian ? "_bgr" : "");
    for (const ExpectedText& text : kSharedTexts) {
      SCOPED_TRACE(text.where);
      ASSERT_EQ(shown.count(text.where), 1u);
      EXPECT_EQ(shown.at(text.where).toStdString(), bulgarian ? text.bulgarian : text.english);
    }
  }
}

// The buttons of a real box (not a recorded one) as the user sees them.
std::vector<std::string> RealBoxButtons(QMessageBox::StandardButtons buttons) {
  std::vector<std::string> texts;
  bool seen = false;
  WhenModal([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;  // nothing to answer: the box itself would hang, so fail below
    seen = true;
    for (const QAbstractButton* button : box->buttons()) texts.push_back(button->text().toStdString());
    box->buttons().first()->click();
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
  });
  watchdog.start(30000);
  ShowMsgBox(nullptr, "question", kMsgConfirmation, buttons);
  EXPECT_TRUE(seen) << "no box was open";
  std::sort(texts.begin(), texts.end());
  return texts;
}

TEST(BulgarianSharedDialogs, RealBoxesCarryTheModulesButtonTexts) {
  struct Case {
    QMessageBox::StandardButtons buttons;
    std::vector<std::string> english, bulgarian;  // sorted
  };
  const Case cases[] = {
      {QMessageBox::Ok, {"OK"}, {"OK"}},
      {QMessageBox::Yes | QMessageBox::No, {"&No", "&Yes"}, {"&Да", "&Не"}},
      {QMessageBox::Ok | QMessageBox::Cancel, {"Cancel", "OK"}, {"OK", "Отказ"}},
  };
  for (const bool bulgarian : {true, false}) {
    SCOPED_TRACE(bulgarian ? "Bulgarian module" : "built-in texts");
    const auto module = InstallLanguage(bulgarian);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.english.back());
      EXPECT_EQ(RealBoxButtons(c.buttons), bulgarian ? c.bulgarian : c.english);
    }
  }
}

}  // namespace
}  // namespace ecr
