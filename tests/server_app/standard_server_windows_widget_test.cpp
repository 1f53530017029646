// The server's own windows behind the main window: the shared dialogs driven offscreen,
// and the error box through the message-box seam.
#include "server_app/standard_server_windows.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

#include "foundation/widgets/lang_sel_dialog.h"
#include "foundation/widgets/msg_box.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"

namespace ecr {
namespace {

// Runs `drive` on the modal dialog of type Dialog as soon as it shows.
template <typename Dialog>
void WhenShown(std::function<void(Dialog&)> drive) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, drive] {
    if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      drive(*dialog);
    }
  });
  timer->start(10);
}

TEST(StandardServerWindows, ErrorsGoThroughTheMessageBoxSeam) {
  QGuiApplication::setApplicationDisplayName("Harbendix v1.0.21");
  std::vector<MsgBoxRequest> boxes;
  const ScopedMsgBoxPresenter presenter([&](const MsgBoxRequest& request) {
    boxes.push_back(request);
    return QMessageBox::Ok;
  });
  StandardServerWindows windows;
  windows.ShowError("Unable to open port COM1!");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text.toStdString(), "Unable to open port COM1!");
  EXPECT_EQ(boxes[0].kind, kMsgError);
  EXPECT_EQ(boxes[0].caption.toStdString(), "Harbendix v1.0.21");
}

TEST(StandardServerWindows, PasswordPrompt) {
  StandardServerWindows windows;
  EXPECT_TRUE(windows.AskPassword(""));  // shows nothing
  WhenShown<TfmPassword>([](TfmPassword& dialog) {
    dialog.ePassword->setText("s3cret");
    dialog.BitBtnOK->click();
  });
  EXPECT_TRUE(windows.AskPassword("s3cret"));
  WhenShown<TfmPassword>([](TfmPassword& dialog) { dialog.BitBtnCancel->click(); });
  EXPECT_FALSE(windows.AskPassword("s3cret"));
}

TEST(StandardServerWindows, OffsetAndCodeTableDialogs) {
  StandardServerWindows windows;
  std::int32_t nextNotifyId = 5;
  WhenShown<TfmOffset>([](TfmOffset& dialog) {
    dialog.eOffset->setText("1200");
    dialog.BitBtnOK->click();
  });
  windows.EditOffset(nextNotifyId);
  EXPECT_EQ(nextNotifyId, 1200);

  int index = 1;
  WhenShown<TfmLangSel>([](TfmLangSel& dialog) {
    dialog.lbAllLangs->setCurrentRow(2);
    dialog.OKBtn->click();
  });
  EXPECT_TRUE(windows.SelectCodeTable(index));
  EXPECT_EQ(index, 3);
  WhenShown<TfmLangSel>([](TfmLangSel& dialog) { dialog.OKBtn->click(); });  // the same row
  EXPECT_FALSE(windows.SelectCodeTable(index));
  EXPECT_EQ(index, 3);
}

}  // namespace
}  // namespace ecr
