// The password entry: stars for every character, and a limit in UTF-8 bytes that refuses
// the keystroke or paste that would pass it, so what the entry shows is what is kept.
#include "foundation/widgets/password_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QWidget>
#include <gtest/gtest.h>

#include "tests/foundation/widgets/widget_test_support.h"
#include "tests/support/key_typing.h"

namespace ecr {
namespace {

TEST(PasswordEdit, TypingStopsAtTheLastWholeCharacterThatFits) {
  struct Case {
    const char* typed;
    const char* kept;
  };
  const Case cases[] = {
      {"secret", "secret"},
      {"123456789012", "123456789"},
      {"абвгд", "абвг"},
      {"абвгдежзийкл", "абвг"},
      // A two-byte letter after eight Latin ones does not fit; a Latin one typed after it
      // still does.
      {"12345678я9", "123456789"},
      {"€€€€", "€€€"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    QWidget window;
    QLineEdit* edit = NewPasswordEdit("ePassword", &window, 16, 9);
    window.show();
    test::TypeText(edit, QString::fromUtf8(c.typed));
    EXPECT_EQ(edit->text().toStdString(), c.kept);
    EXPECT_EQ(edit->displayText(), QString(edit->text().size(), '*'));
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
  }
}

TEST(PasswordEdit, CharacterLimitAndNoByteLimitUnlessGiven) {
  QWidget window;
  QLineEdit* plain = NewPasswordEdit("plain", &window);
  test::TypeText(plain, QString::fromUtf8("абвгдежзийкл"));
  EXPECT_EQ(plain->text(), QString::fromUtf8("абвгдежзийкл"));

  QLineEdit* short16 = NewPasswordEdit("short16", &window, 16);
  window.show();
  test::TypeText(short16, QString(20, 'a'));
  EXPECT_EQ(short16->text(), QString(16, 'a'));
  EXPECT_EQ(short16->objectName(), "short16");
}

TEST(PasswordEdit, APasteThatWouldPassTheLimitIsRefusedWhole) {
  QWidget window;
  QLineEdit* edit = NewPasswordEdit("ePassword", &window, 16, 9);
  QApplication::clipboard()->setText(QString::fromUtf8("абвгд"));
  edit->paste();
  EXPECT_EQ(edit->text(), "");
  QApplication::clipboard()->setText(QString::fromUtf8("абв"));
  edit->paste();
  EXPECT_EQ(edit->text(), QString::fromUtf8("абв"));
  edit->paste();
  EXPECT_EQ(edit->text(), QString::fromUtf8("абв"));
}

}  // namespace
}  // namespace ecr
