// The status window driven with a real request engine: the grid, the indicator, the
// keep-alive countdown while the window shows, and the support page.
#include "server_app/status_window.h"

#include <QApplication>
#include <QLabel>
#include <QTabWidget>
#include <QTableWidget>
#include <gtest/gtest.h>

#include "foundation/widgets/contact_panels.h"
#include "server/request_engine.h"
#include "server_app/menu_glyphs.h"
#include "tests/server_app/window_test_support.h"

namespace ecr {
namespace {

class NoSave : public SettingsSaver {
 public:
  void Save() override {}
};

class StatusWindowTest : public ::testing::Test {
 protected:
  ServerSettings settings;
  NoSave saver;
  RequestEngine engine{settings, saver, "v1.0.21.1"};
  TfmSelvaroStatus window;

  void SetUp() override { window.SetEngine(&engine); }

  // Register logNo in use, with the given SET owners (SET number, client id).
  void UseEcr(int logNo, std::int32_t serial, std::uint8_t mode, std::uint8_t keepAlive,
              const std::vector<std::pair<int, int>>& owners = {{1, 3}}) {
    engine.WithContext([&](ExchangeContext& context) {
      TEcr& ecr = context.EcrTable.At(logNo);
      ecr.UseCount = 1;
      for (auto [set, client] : owners) ecr.Set(set).ClientId = static_cast<std::int16_t>(client);
      EcrSettings& counters = context.Settings().Ecr(logNo);
      counters.SerialNumber = serial;
      counters.Mode = mode;
      counters.KeepAlive = keepAlive;
    });
  }
  std::string Cell(int row, int column) const {
    const QTableWidgetItem* item = window.sgECRs->item(row, column);
    return item ? item->text().toStdString() : "";
  }
};

TEST_F(StatusWindowTest, NoEcrInUseShowsOneEmptyRowAndRedIndicator) {
  window.UpdateMonitor();
  EXPECT_EQ(window.sgECRs->rowCount(), 1);
  for (int column = 0; column < 4; ++column) EXPECT_EQ(Cell(0, column), "");
  EXPECT_EQ(window.sgECRs->horizontalHeaderItem(0)->text(), "Log No");
  EXPECT_EQ(window.sgECRs->horizontalHeaderItem(3)->text(), "SET:ID");
  EXPECT_EQ(window.shIndicator->Colour(), QColor(255, 0, 0));
  engine.WithContext([](ExchangeContext& context) { context.PollingActive = 1; });
  window.UpdateMonitor();
  EXPECT_EQ(window.shIndicator->Colour(), QColor(0, 128, 0));
}

TEST_F(StatusWindowTest, RowsShowNumberSerialModeAndOwners) {
  struct Case {
    int logNo;
    std::int32_t serial;
    std::uint8_t mode;
    const char* serialText;
    const char* modeText;
  };
  const Case cases[] = {
      {3, 7, EcrModeOnLine, "000007", "OnLine"},
      {12, 1234, EcrModeInLine, "001234", "InLine"},
      {40, 1234567, EcrModePrn, "1234567", "Prn"},
  };
  for (const Case& c : cases) UseEcr(c.logNo, c.serial, c.mode, 15, {{1, 3}, {2, 4}});
  window.UpdateMonitor();
  ASSERT_EQ(window.sgECRs->rowCount(), 3);
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(Cell(row, 0), std::to_string(cases[row].logNo));
    EXPECT_EQ(Cell(row, 1), cases[row].serialText);
    EXPECT_EQ(Cell(row, 2), cases[row].modeText);
    EXPECT_EQ(Cell(row, 3), "1:3;2:4;");
  }
}

TEST_F(StatusWindowTest, SetOwnersOfFourteenSetsAreCutAtEightyCharacters) {
  std::vector<std::pair<int, int>> owners;
  for (int set = 1; set <= 14; ++set) owners.emplace_back(set, 100 + set);
  UseEcr(5, 1, EcrModeInLine, 15, owners);
  std::string full;
  for (auto [set, client] : owners) full += std::to_string(set) + ":" + std::to_string(client) + ";";
  ASSERT_GT(full.size(), 80u);
  window.UpdateMonitor();
  EXPECT_EQ(Cell(0, 3), full.substr(0, 80));
}

TEST_F(StatusWindowTest, ModeFallsToOffAfterFifteenRefreshesUntilHeardAgain) {
  UseEcr(7, 99, EcrModeInLine, 15);
  for (int refresh = 1; refresh <= 15; ++refresh) {
    window.UpdateMonitor();
    ASSERT_EQ(Cell(0, 2), "InLine") << "refresh " << refresh;
  }
  window.UpdateMonitor();
  EXPECT_EQ(Cell(0, 2), "Off");
  EXPECT_EQ(settings.Ecr(7).Mode, EcrModeOff);
  // Heard again: the register side sets the mode and the countdown anew.
  engine.WithContext([](ExchangeContext& context) {
    context.Settings().Ecr(7).Mode = EcrModeOnLine;
    context.Settings().Ecr(7).KeepAlive = 15;
  });
  window.UpdateMonitor();
  EXPECT_EQ(Cell(0, 2), "OnLine");
}

TEST_F(StatusWindowTest, CountdownRunsOnlyWhileShown) {
  UseEcr(9, 1, EcrModeInLine, 15);
  EXPECT_FALSE(window.tmrDisplay.isActive());
  window.pgcStatusScreen->setCurrentWidget(window.tabAbout);
  window.show();
  // Showing refreshes at once and opens on the status page.
  EXPECT_EQ(window.pgcStatusScreen->currentWidget(), window.tabStatus);
  EXPECT_EQ(settings.Ecr(9).KeepAlive, 14);
  EXPECT_TRUE(window.tmrDisplay.isActive());
  EXPECT_EQ(window.tmrDisplay.interval(), 1000);
  ASSERT_TRUE(window_test::WaitUntil([&] { return settings.Ecr(9).KeepAlive <= 13; }, std::chrono::seconds(10)));
  window.hide();
  EXPECT_FALSE(window.tmrDisplay.isActive());
  const std::uint8_t kept = settings.Ecr(9).KeepAlive;
  QTest::qWait(1300);
  EXPECT_EQ(settings.Ecr(9).KeepAlive, kept);
}

TEST_F(StatusWindowTest, TextsOfTheServiceAndTheSupportPage) {
  StatusTexts texts;
  texts.settings = "Port: COM1 Speed: 4800  IP Port: 4999";
  texts.info = "Old FP";
  texts.language = "Code table: Bulgarian";
  window.SetTexts(texts);
  EXPECT_EQ(window.lblSettings->text().toStdString(), texts.settings);
  EXPECT_EQ(window.lblInfo->text().toStdString(), "Old FP");
  EXPECT_EQ(window.lblLanguage->text().toStdString(), texts.language);
  EXPECT_EQ(window.pgcStatusScreen->tabText(0), "Status");
  EXPECT_EQ(window.pgcStatusScreen->tabText(1), "Support");

  // The window as the program makes it: after the main window set the title and icon.
  QGuiApplication::setApplicationDisplayName("Harbendix v1.0.21");
  QApplication::setWindowIcon(TrayImage(kTrayImageRunning));
  TfmSelvaroStatus program;
  program.SetEngine(&engine);
  program.SetTexts(texts);
  EXPECT_EQ(program.windowTitle(), "Harbendix v1.0.21");
  EXPECT_EQ(program.ProdName->text(), "Harbendix v1.0.21");
  ASSERT_FALSE(program.Img->pixmap().isNull());
  EXPECT_EQ(program.Img->pixmap().toImage(), QApplication::windowIcon().pixmap(32, 32).toImage());
  // The maker's contact panel sits on the support page, under the product.
  const auto* contact = program.tabAbout->findChild<TfrCompanyInfoKv*>();
  ASSERT_NE(contact, nullptr);

  UseEcr(12, 1234, EcrModeInLine, 15, {{1, 3}, {2, 4}});
  UseEcr(14, 20117, EcrModeOnLine, 15, {{3, 1}});
  program.show();
  window_test::SavePicture(program, "status_window");
  program.pgcStatusScreen->setCurrentWidget(program.tabAbout);
  EXPECT_GE(contact->geometry().top(), program.ProdName->geometry().bottom());
  window_test::SavePicture(program, "status_window_support");
}

}  // namespace
}  // namespace ecr
