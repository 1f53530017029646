// The network-controller server's main window with its real parts: the controller link
// found on COM1, which the test's registry maps onto a controller emulator, the socket
// server on a free port with real TCP clients, the request processing, the settings file
// and the real dialogs answered from inside their loops.
#include "netcontroller/app/nc_main_window.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QComboBox>
#include <QTableWidget>
#include <QGuiApplication>
#include <QStyleHints>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "foundation/code_tables.h"
#include "foundation/log_file.h"
#include "foundation/settings_store.h"
#include "foundation/widgets/lang_sel_dialog.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"
#include "netcontroller/app/nc_access_dialog.h"
#include "netcontroller/app/nc_indicator.h"
#include "netcontroller/app/nc_ports_dialog.h"
#include "netcontroller/link/net_controller.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "tests/netcontroller/nc_app_fixture.h"
#include "tests/netcontroller/nc_link_fixture.h"
#include "tests/support/tray_test_support.h"
#include "tests/support/key_typing.h"

namespace ecr::nc {
namespace {

using namespace std::chrono_literals;
using test::As;
using test::BoxRecorder;
using test::KeyClick;
using test::ModalAnswerer;
using test::Pump;
using test::PumpedClient;
using test::PumpUntil;

const QColor kGreen(0x00, 0x80, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);

// One server as the program makes it, in a folder of its own.
class ServerRig {
 public:
  // comPort: the COM number the registry gives the controller's line; 0 for none.
  explicit ServerRig(int comPort = 1) : environment_("ECR_REGISTRY", folder_.RegistryRoot().c_str()) {
    std::filesystem::create_directories(folder_.Machine() / "Enum");
    if (comPort != 0) ecr::test::MapPort(folder_, comPort, nc.PortPath());
    log.Open();
    settings.IPPort = 0;  // a fresh file: the socket server picks a free port
  }

  // Puts `stored` into the settings file and the initial values into the record, as the
  // program finds them at start. Port 0 lets the socket server pick a free port.
  void StoreSettings(NcServerSettings stored) {
    stored.IPPort = 0;
    settings = stored;
    store.Save();
    settings = NcServerSettings{};
  }
  // The settings file as it is now (read into the record under the window's lock).
  NcServerSettings SavedSettings() {
    NcServerSettings saved;
    window->Engine().WithSettings([&](NcServerSettings& record) {
      const NcServerSettings inMemory = record;
      store.Load();
      saved = record;
      record = inMemory;
    });
    return saved;
  }

  // Starts with the server password `password` in the settings file.
  bool StartWithPassword(const std::string& password) {
    NcServerSettings stored;
    stored.ServerPassword = password;
    StoreSettings(stored);
    return Start();
  }

  bool Start() {
    window = std::make_unique<TfmSelvaroNT>(SelvaroParts{settings, store, log, "v1.0.4",
                                                         (folder_.Folder() / "lontaros.hlp").string(), nullptr});
    QObject::connect(window.get(), &TfmSelvaroNT::Closed, [this] { ++closedSignals; });
    const bool started = window->FormCreate();
    // The tests tick the display themselves.
    window->DisplayTimer().stop();
    return started;
  }

  std::uint16_t Port() const { return window->IPServer().BoundPort(); }
  std::string Log() const { return ecr::test::RegistryTestFolder::ReadFile(folder_.Folder() / "lontaros.log"); }
  std::filesystem::path SettingsPath() const { return folder_.Folder() / "lontaros.STG"; }

  // A connected client, accepted by the server (so its id is known: the lowest free slot).
  std::unique_ptr<PumpedClient> Connect() {
    const int id = window->IPServer().FindFreeClient();
    auto client = std::make_unique<PumpedClient>(Port());
    EXPECT_TRUE(client->Connected());
    EXPECT_TRUE(PumpUntil([&] { return window->IPServer().FindFreeClient() != id; }, 10s));
    return client;
  }

 private:
  ecr::test::RegistryTestFolder folder_;
  ecr::test::SavedEnvironment environment_;

 public:
  ControllerEmulator nc;
  NcServerSettings settings;
  TCodeStru store{(folder_.Folder() / "lontaros.STG").string(), settings};
  LogFile log{(folder_.Folder() / "lontaros.log").string()};
  int closedSignals = 0;
  std::unique_ptr<TfmSelvaroNT> window;  // goes first: its reader thread ends before the rest
};

// Opens a SET; the reply's error code, or -1 when none came.
int OpenSet(PumpedClient& client, int setNo, int logNo, const std::string& password = "") {
  if (!client.Send(BuildClientMessage(static_cast<std::uint8_t>(setNo), cmdOpen, static_cast<std::uint8_t>(logNo), 0,
                                      "", password)))
    return -1;
  const std::optional<std::string> reply = client.Receive();
  if (!reply) return -1;
  const ClientMessage message = ParseClientMessage(*reply);
  EXPECT_EQ(message.SetNo, setNo);
  EXPECT_EQ(message.LogNo, logNo);
  return message.ErrorCode;
}

bool HasCommand(const ControllerEmulator& nc, const std::string& text) {
  const std::vector<std::string> commands = nc.ReceivedCommands();
  return std::find(commands.begin(), commands.end(), text) != commands.end();
}

TEST(NcMainWindow, StartUpFromTheStoredSettings) {
  struct Case {
    std::uint16_t speed;
    bool speedCommand;
    int codeTable;
    int shownCodeTable;
  };
  const Case cases[] = {{4800, true, 1, 1}, {9600, true, 3, 3}, {19200, false, 6, 6}, {2400, false, 9, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    ServerRig rig;
    NcServerSettings stored;
    stored.ComSpeed = c.speed;
    stored.CodeTableIndex = c.codeTable;
    rig.StoreSettings(stored);
    ASSERT_TRUE(rig.Start()) << rig.Log();
    TfmSelvaroNT& window = *rig.window;
    EXPECT_EQ(window.lblSettings->text(), "Com Port:1 Speed:" + QString::number(c.speed) + "  IP Port:0");
    EXPECT_EQ(window.lblNC->text(), "Net Controller ID: NC0001");
    EXPECT_EQ(window.lblLanguage->text(),
              "Code table: " + QString::fromStdString(GetCodeTableName(c.shownCodeTable, LontarosCodeTables())));
    EXPECT_EQ(window.windowTitle(), "Lontaros v1.0.4");
    EXPECT_EQ(ApplicationTitle(), "Lontaros v1.0.4");
    EXPECT_TRUE(window.TI().Added());
    EXPECT_EQ(window.TI().ShownTip(), "Lontaros v1.0.4");
    EXPECT_TRUE(window.IPServer().Active());
    EXPECT_EQ(window.GridRowCount(), 2);
    EXPECT_NE(rig.Log().find("Lontaros v1.0.4 started on COM 1."), std::string::npos) << rig.Log();
    ASSERT_TRUE(rig.nc.WaitForCommands("STOP", 1, 5s));
    EXPECT_EQ(HasCommand(rig.nc, "SPEED" + std::to_string(c.speed)), c.speedCommand);
    EXPECT_EQ(rig.nc.Speed(), c.speed == 9600 ? 9600 : 4800);
    EXPECT_FALSE(rig.nc.Started());
    EXPECT_FALSE(window.Engine().ControllerStarted());
  }
}

TEST(NcMainWindow, NoControllerShowsTheMessageAndSavesNothing) {
  // No serial port at all, and the controller on a port beyond the searched COM1..COM9.
  for (const int comPort : {0, 10}) {
    SCOPED_TRACE(comPort);
    ServerRig rig(comPort);
    BoxRecorder boxes;
    EXPECT_FALSE(rig.Start());
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Net Controller not found!"});
    EXPECT_EQ(std::filesystem::file_size(rig.SettingsPath()), 0u);
    EXPECT_EQ(rig.Log().find(" started on "), std::string::npos);
    EXPECT_EQ(rig.window->NC().Com(), 0);
    EXPECT_TRUE(rig.nc.ReceivedCommands().empty());
  }
}

TEST(NcMainWindow, MonitorShowsTheServedRegisters) {
  ServerRig rig;
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  window.tmrDisplayTimer();  // the first tick only minimises
  // Hidden, the window counts nothing down by itself: only the ticks below do.
  EXPECT_FALSE(window.DisplayTimer().isActive());

  // No register in use: the header and one empty row.
  window.tmrDisplayTimer();
  EXPECT_EQ(window.GridRowCount(), 2);
  const QString header[] = {"Log No", "Ser No", "Mode", "SET:ID"};
  for (int column = 0; column < 4; ++column) {
    EXPECT_EQ(window.Cell(column, 0), header[column]);
    EXPECT_EQ(window.Cell(column, 1), "");
  }
  EXPECT_EQ(window.shIndicator->Color(), kRed);
  EXPECT_TRUE(window.lblSettings->isEnabled());

  // Clients 1..7; client 5 holds SET 1 and client 7 SET 2 of register 4.
  std::vector<std::unique_ptr<PumpedClient>> clients;
  for (int id = 1; id <= 7; ++id) clients.push_back(rig.Connect());
  ASSERT_EQ(OpenSet(*clients[4], 1, 4), erNoError);
  ASSERT_EQ(OpenSet(*clients[6], 2, 4), erNoError);
  EXPECT_TRUE(rig.nc.WaitFor([&] { return rig.nc.Mask() == 0x0008 && rig.nc.Started(); }, 5s));
  window.Engine().WithSettings([](NcServerSettings& settings) {
    settings.Ecr(4).SerialNumber = 123456;
    settings.Ecr(4).Mode = 2;
    settings.Ecr(4).KeepAlive = 3;
  });

  // OnLine for three more ticks, Off from the fourth.
  for (const char* mode : {"OnLine", "OnLine", "OnLine", "Off"}) {
    SCOPED_TRACE(mode);
    window.tmrDisplayTimer();
    EXPECT_EQ(window.GridRowCount(), 2);
    EXPECT_EQ(window.Cell(0, 1), "4");
    EXPECT_EQ(window.Cell(1, 1), "123456");
    EXPECT_EQ(window.Cell(2, 1), mode);
    EXPECT_EQ(window.Cell(3, 1), "1:5;2:7;");
  }
  EXPECT_EQ(window.shIndicator->Color(), kGreen);

  // A second register comes before it in the list; an unknown mode leaves the cell as it was.
  ASSERT_EQ(OpenSet(*clients[0], 5, 2), erNoError);
  window.Engine().WithSettings([](NcServerSettings& settings) {
    settings.Ecr(2).Mode = 3;
    settings.Ecr(2).KeepAlive = 5;
    settings.Ecr(4).Mode = 7;
    settings.Ecr(4).KeepAlive = 5;
  });
  window.tmrDisplayTimer();
  EXPECT_EQ(window.GridRowCount(), 3);
  EXPECT_EQ(window.Cell(0, 1), "2");
  EXPECT_EQ(window.Cell(2, 1), "Prn");
  EXPECT_EQ(window.Cell(3, 1), "5:1;");
  EXPECT_EQ(window.Cell(0, 2), "4");
  EXPECT_EQ(window.Cell(2, 2), "");  // the row was new: nothing to keep

  // Everyone gone: one empty row again and the controller stopped.
  clients.clear();
  EXPECT_TRUE(PumpUntil([&] { return !window.Engine().ControllerStarted(); }, 10s));
  window.tmrDisplayTimer();
  EXPECT_EQ(window.GridRowCount(), 2);
  EXPECT_EQ(window.Cell(0, 1), "");
  EXPECT_EQ(window.shIndicator->Color(), kRed);
}

TEST(NcMainWindow, CloseAsksThePasswordAndSavesEitherWay) {
  ServerRig rig;
  NcServerSettings stored;
  stored.ServerPassword = "pw";
  rig.StoreSettings(stored);
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  window.Engine().WithSettings([](NcServerSettings& settings) { settings.NextNotifyId = 42; });

  ModalAnswerer modal;
  modal.Then([](QDialog& dialog) { As<TfmPassword>(dialog).BitBtnCancel->click(); });
  window.ExitServClick();
  EXPECT_FALSE(window.IsClosed());
  EXPECT_EQ(rig.closedSignals, 0);
  EXPECT_TRUE(window.IPServer().Active());
  EXPECT_EQ(rig.SavedSettings().NextNotifyId, 42);
  EXPECT_EQ(rig.Log().find("closed by user"), std::string::npos);

  rig.nc.ClearRecord();
  modal.Then([](QDialog& dialog) {
    auto& password = As<TfmPassword>(dialog);
    password.ePassword->setText("pw");
    password.BitBtnOK->click();
  });
  window.ExitServClick();
  EXPECT_TRUE(window.IsClosed());
  EXPECT_EQ(rig.closedSignals, 1);
  EXPECT_FALSE(window.IPServer().Active());
  EXPECT_FALSE(window.TI().Added());
  EXPECT_FALSE(window.DisplayTimer().isActive());
  EXPECT_NE(rig.Log().find("Lontaros v1.0.4 closed by user."), std::string::npos);
  EXPECT_TRUE(rig.nc.WaitForCommands("RESET", 1, 5s));
  const std::vector<std::string> commands = rig.nc.ReceivedCommands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], "STOP");
  EXPECT_EQ(commands[1], "RESET");
  EXPECT_TRUE(modal.Unexpected().empty());
}

// The service goes on while the close's password prompt shows: a register's notification
// taken meanwhile counts, and the close saves the counters once the service is down, so the
// next run never hands the same sequence number out again.
TEST(NcMainWindow, TheCloseSavesTheCountersTheServiceMovedWhileThePromptShowed) {
  ServerRig rig;
  ASSERT_TRUE(rig.StartWithPassword("pw"));
  TfmSelvaroNT& window = *rig.window;
  auto owner = rig.Connect();
  ASSERT_EQ(OpenSet(*owner, 1, 3), erNoError);
  ASSERT_TRUE(rig.nc.WaitFor([&] { return rig.nc.Mask() == 0x0004 && rig.nc.Started(); }, 5s));
  const auto notification = [&](const char* block) {
    rig.nc.SendEcrBlock(3, block);
    const std::optional<std::string> message = owner->Receive();
    return message ? ParseClientMessage(*message).Payload : std::string("(nothing)");
  };
  EXPECT_EQ(notification("55;1;0;A;"), "55;1;A;1;1;");

  ModalAnswerer modal;
  modal.Then([&](QDialog& dialog) {
    EXPECT_EQ(notification("55;2;0;B;"), "55;2;B;2;1;");
    auto& password = As<TfmPassword>(dialog);
    password.ePassword->setText("pw");
    password.BitBtnOK->click();
  });
  window.ExitServClick();
  ASSERT_TRUE(window.IsClosed());
  EXPECT_TRUE(modal.AllUsed());
  EXPECT_EQ(rig.SavedSettings().Ecr(3).Sequence, 3);
  EXPECT_EQ(rig.SavedSettings().Ecr(3).NotifyId, 1);
  EXPECT_EQ(rig.SavedSettings().NextNotifyId, 2);
}

// The end of the session (or a signal) closes without the prompt, and saves.
TEST(NcMainWindow, TheEndOfTheSessionClosesWithoutAsking) {
  ServerRig rig;
  ASSERT_TRUE(rig.StartWithPassword("pw"));
  ModalAnswerer modal;  // no answers: any password prompt would be a fault
  rig.window->Engine().WithSettings([](NcServerSettings& settings) { settings.NextNotifyId = 42; });
  rig.window->EndSession();
  EXPECT_TRUE(rig.window->IsClosed());
  EXPECT_EQ(rig.closedSignals, 1);
  EXPECT_FALSE(rig.window->IPServer().Active());
  EXPECT_NE(rig.Log().find("Lontaros v1.0.4 closed by user."), std::string::npos);
  EXPECT_EQ(rig.SavedSettings().NextNotifyId, 42);
  EXPECT_TRUE(modal.Unexpected().empty());
  rig.window->EndSession();  // closed already: nothing more
  EXPECT_EQ(rig.closedSignals, 1);
}

TEST(NcMainWindow, CloseRequestOfASecondStart) {
  struct Case {
    const char* text;
    bool loopBack;
    bool closes;
  };
  const Case cases[] = {{"pw", false, true}, {"wrong", false, false}, {"PW", false, false}, {"pw", true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.loopBack ? " looped back" : ""));
    ServerRig rig;
    NcServerSettings stored;
    stored.ServerPassword = "pw";
    rig.StoreSettings(stored);
    ASSERT_TRUE(rig.Start());
    ModalAnswerer modal;  // no answers: any password prompt would be a fault
    rig.window->SelfMessage(2, c.text, c.loopBack);
    if (c.closes) {
      EXPECT_TRUE(PumpUntil([&] { return rig.closedSignals == 1; }, 10s));
      EXPECT_TRUE(rig.window->IsClosed());
      EXPECT_NE(rig.Log().find(" closed by user."), std::string::npos);
    } else {
      Pump(200ms);
      EXPECT_EQ(rig.closedSignals, 0);
      EXPECT_FALSE(rig.window->IsClosed());
    }
    EXPECT_TRUE(modal.Unexpected().empty());
  }
}

TEST(NcMainWindow, SettingsMenusAskThePasswordFirst) {
  ServerRig rig;
  NcServerSettings stored;
  stored.ServerPassword = "pw";
  stored.ComSpeed = 2400;
  rig.StoreSettings(stored);
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  ModalAnswerer modal;
  const auto password = [&modal](const char* typed) {
    modal.Then([typed](QDialog& dialog) {
      auto& prompt = As<TfmPassword>(dialog);
      if (typed == nullptr) {
        prompt.BitBtnCancel->click();
        return;
      }
      prompt.ePassword->setText(typed);
      prompt.BitBtnOK->click();
    });
  };

  // A cancelled password opens nothing.
  password(nullptr);
  window.PortsClick();
  EXPECT_EQ(modal.Answered(), 1);

  // Ports cancelled: the unoffered speed is 4800 in memory, nothing saved.
  password("pw");
  modal.Then([](QDialog& dialog) { As<TfmPorts>(dialog).BitBtnCancel->click(); });
  window.PortsClick();
  EXPECT_EQ(window.SettingsCopy().ComSpeed, 4800);
  EXPECT_EQ(rig.SavedSettings().ComSpeed, 2400);

  // Ports OK: saved and the speed sent.
  password("pw");
  modal.Then([](QDialog& dialog) {
    auto& ports = As<TfmPorts>(dialog);
    ports.cbSpeed->setCurrentIndex(1);
    ports.eIPPort->setText("70000");
    ports.BitBtnOK->click();
  });
  window.PortsClick();
  EXPECT_TRUE(rig.nc.WaitForCommands("SPEED9600", 1, 5s));
  EXPECT_EQ(rig.SavedSettings().ComSpeed, 9600);
  EXPECT_EQ(rig.SavedSettings().IPPort, 4464);

  // Access: a SET password applied, then the new server password.
  password("pw");
  modal.Then([](QDialog& dialog) {
    auto& access = As<TfmAccess>(dialog);
    access.cbSetNo->setCurrentIndex(13);
    access.eSetPW->setText("123456789012");
    access.BitBtnSetPWOK->click();
    access.eNewPW->setText("0123456789AB");
    access.eVerify->setText("0123456789AB");
    access.BitBtnOK->click();
  });
  window.AccessClick();
  EXPECT_EQ(rig.SavedSettings().SetPassword(14).Get(), "123456789");
  EXPECT_EQ(rig.SavedSettings().ServerPassword.Get(), "012345678");

  // Offset, then the code table.
  password("012345678");
  modal.Then([](QDialog& dialog) {
    auto& offset = As<TfmOffset>(dialog);
    offset.eOffset->setText("500");
    offset.BitBtnOK->click();
  });
  window.Offset1Click();
  EXPECT_EQ(rig.SavedSettings().NextNotifyId, 500);

  password("012345678");
  modal.Then([](QDialog& dialog) {
    auto& codeTable = As<TfmLangSel>(dialog);
    codeTable.lbAllLangs->setCurrentRow(1);
    codeTable.OKBtn->click();
  });
  window.miLanguageClick();
  EXPECT_EQ(rig.SavedSettings().CodeTableIndex, 2);
  EXPECT_EQ(window.lblLanguage->text(),
            "Code table: " + QString::fromStdString(GetCodeTableName(2, LontarosCodeTables())));

  EXPECT_TRUE(modal.AllUsed());
  EXPECT_TRUE(modal.Unexpected().empty());
}

// Passwords typed in Cyrillic with the keyboard alone: the entries take what fits in the
// record's 9 bytes (four letters), the same typing at the prompt opens the menus, and a
// client opens the SET with the bytes kept.
TEST(NcMainWindow, CyrillicPasswordsAreKeptAsTypedAndMatched) {
  ServerRig rig;
  rig.StoreSettings(NcServerSettings{});
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  BoxRecorder boxes;
  const QString typed = QString::fromUtf8("абвгдежзийкл");
  ModalAnswerer modal;
  modal.Then([&](QDialog& dialog) {
    auto& access = As<TfmAccess>(dialog);
    access.cbSetNo->setCurrentIndex(1);
    ecr::test::TypeText(access.eSetPW, typed);
    KeyClick(access.eSetPW, Qt::Key_Return);
    access.eNewPW->setFocus();
    ecr::test::TypeText(access.eNewPW, typed);
    KeyClick(access.focusWidget(), Qt::Key_Return);
    ecr::test::TypeText(access.eVerify, typed);
    KeyClick(access.focusWidget(), Qt::Key_Return);
    KeyClick(access.focusWidget(), Qt::Key_Return);  // on the focused OK
    if (access.isVisible()) access.BitBtnCancel->click();
  });
  window.AccessClick();  // no password yet: no prompt
  EXPECT_EQ(rig.SavedSettings().ServerPassword.Get(), "абвг");
  EXPECT_EQ(rig.SavedSettings().SetPassword(2).Get(), "абвг");

  modal.Then([&](QDialog& dialog) {
    auto& prompt = As<TfmPassword>(dialog);
    ecr::test::TypeText(prompt.ePassword, QString::fromUtf8("абвгд"));
    KeyClick(prompt.ePassword, Qt::Key_Return);
    if (prompt.isVisible()) prompt.BitBtnCancel->click();
  });
  modal.Then([](QDialog& dialog) { As<TfmOffset>(dialog).BitBtncancel->click(); });
  window.Offset1Click();
  EXPECT_TRUE(modal.AllUsed());
  EXPECT_TRUE(modal.Unexpected().empty());

  auto client = rig.Connect();
  EXPECT_EQ(OpenSet(*client, 2, 3, "абвгд"), erWrongSetPassword);
  EXPECT_EQ(OpenSet(*client, 2, 3, "абвг"), erNoError);
}

TEST(NcMainWindow, FirstTickHidesAndTheTrayDoubleClickShowsAgain) {
  ServerRig rig;
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  window.show();
  EXPECT_TRUE(window.DisplayTimer().isActive());
  window.tmrDisplayTimer();
  EXPECT_TRUE(PumpUntil([&] { return !window.isVisible(); }, 5s));
  EXPECT_FALSE(window.DisplayTimer().isActive());

  window.TI().HandleMouse(TTrayIcon::MouseMessage::LeftButtonDoubleClick, QPoint());
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.DisplayTimer().isActive());
  window.hide();
  EXPECT_FALSE(window.DisplayTimer().isActive());
}

// Every tray brings the hidden window back: the embedded tray with its double click and
// with a single click, a StatusNotifierItem tray (which reports single clicks only) with its
// click at once. A click on the icon of a shown window does nothing: a maximised window stays
// maximised (a double click brings it back to normal, as a request to show it).
TEST(NcMainWindow, TheTraysOwnActivationsBringTheHiddenWindowBack) {
  using Reason = QSystemTrayIcon::ActivationReason;
  enum class Start { Hidden, Maximised };
  struct Case {
    const char* name;
    ecr::test::FakeTrayDesktop::Kind desktop;
    Start start;
    std::vector<Reason> reasons;
    bool visible;
    bool maximised;
  };
  const Case cases[] = {
      {"single activations: a click", ecr::test::kStatusNotifierTray, Start::Hidden, {QSystemTrayIcon::Trigger}, true,
       false},
      {"embedded: a click", ecr::test::kEmbeddedTray, Start::Hidden, {QSystemTrayIcon::Trigger}, true, false},
      {"embedded: a double click", ecr::test::kEmbeddedTray, Start::Hidden,
       {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}, true, false},
      {"single activations: the right button", ecr::test::kStatusNotifierTray, Start::Hidden,
       {QSystemTrayIcon::Context}, false, false},
      {"single activations: a click on the shown window", ecr::test::kStatusNotifierTray, Start::Maximised,
       {QSystemTrayIcon::Trigger}, true, true},
      {"embedded: a click on the shown window", ecr::test::kEmbeddedTray, Start::Maximised, {QSystemTrayIcon::Trigger},
       true, true},
      {"embedded: a double click on the shown window", ecr::test::kEmbeddedTray, Start::Maximised,
       {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick}, true, false},
  };
  ecr::test::FakeTrayDesktop desktop(ecr::test::kStatusNotifierTray);
  ServerRig rig;
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  window.show();
  window.tmrDisplayTimer();
  ASSERT_TRUE(PumpUntil([&] { return !window.isVisible(); }, 5s));
  const auto clickTime = std::chrono::milliseconds(QGuiApplication::styleHints()->mouseDoubleClickInterval());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desktop.kind = c.desktop;
    if (c.start == Start::Maximised) window.showMaximized();
    for (const Reason reason : c.reasons) emit window.TI().Desktop().SystemIcon().activated(reason);
    // A click of the embedded tray counts once the double-click time has passed; a loaded
    // machine may take longer to show the window, never less long to leave it alone.
    if (c.start == Start::Hidden && c.visible) {
      PumpUntil([&] { return window.isVisible(); }, clickTime + 10s);
    } else {
      Pump(clickTime + 500ms);
    }
    EXPECT_EQ(window.isVisible(), c.visible);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_EQ(window.isMaximized(), c.maximised);
    window.hide();
  }
}

// Ids drawn while the offset dialog is open (a register's fiscal event on the reader thread)
// are not handed out again: OK on the number shown writes nothing back; a number the user
// typed is written.
TEST(NcMainWindow, TheOffsetIsWrittenOnlyWhenTheUserChangedIt) {
  struct Case {
    const char* name;
    const char* typed;  // nullptr: the number shown is left as it is
    std::int32_t next;
  };
  const Case cases[] = {{"left as shown", nullptr, 41}, {"the number shown typed again", "40", 41},
                        {"a number of the user's", "500", 500}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerRig rig;
    NcServerSettings stored;
    stored.NextNotifyId = 40;
    rig.StoreSettings(stored);
    ASSERT_TRUE(rig.Start());
    ModalAnswerer modal;
    modal.Then([&](QDialog& dialog) {
      auto& offset = As<TfmOffset>(dialog);
      EXPECT_EQ(offset.eOffset->text(), "40");
      rig.window->Engine().WithSettings(
          [](NcServerSettings& record) { record.NextNotifyId = record.NextNotifyId + 1; });
      if (c.typed != nullptr) offset.eOffset->setText(c.typed);
      offset.BitBtnOK->click();
    });
    rig.window->Offset1Click();
    EXPECT_TRUE(modal.AllUsed());
    EXPECT_EQ(rig.SavedSettings().NextNotifyId, c.next);
  }
}

// On a desktop without a notification area the window is the way into the program.
TEST(NcMainWindow, WithoutANotificationAreaTheWindowStays) {
  ecr::test::FakeTrayDesktop desktop(ecr::test::kDesktopWithoutTray);
  ServerRig rig;
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  window.show();
  EXPECT_TRUE(window.TI().NoNotificationArea());
  window.tmrDisplayTimer();
  Pump(300ms);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.DisplayTimer().isActive());

  // Minimising it is the user's choice: it stays minimised, where the user finds it again.
  window.showMinimized();
  Pump(300ms);
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMinimized());

  // A panel that starts later takes the minimised window, as the tray always did...
  desktop.kind = ecr::test::kEmbeddedTray;
  window.TI().Desktop().CheckTray();
  EXPECT_TRUE(window.TI().OnDesktop());
  window.showNormal();
  window.showMinimized();
  EXPECT_TRUE(PumpUntil([&] { return !window.isVisible(); }, 5s));

  // ...and one that goes away gives it back.
  desktop.kind = ecr::test::kDesktopWithoutTray;
  window.TI().Desktop().CheckTray();
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.DisplayTimer().isActive());
}

// The controller's keep-alives go unanswered for two rounds (about ten seconds) before the
// link counts as lost.
TEST(NcMainWindow, SettingsAndControllerLabelsAreGreyWhileTheLinkIsLost) {
  ServerRig rig;
  ASSERT_TRUE(rig.Start());
  TfmSelvaroNT& window = *rig.window;
  window.tmrDisplayTimer();  // the first tick only minimises
  window.tmrDisplayTimer();
  EXPECT_TRUE(window.lblSettings->isEnabled());
  EXPECT_TRUE(window.lblNC->isEnabled());

  rig.nc.SetSilent(true);
  ASSERT_TRUE(PumpUntil([&] { return window.NC().LinkState() == 2; }, 60s));
  window.tmrDisplayTimer();
  EXPECT_FALSE(window.lblSettings->isEnabled());
  EXPECT_FALSE(window.lblNC->isEnabled());
  EXPECT_TRUE(window.lblLanguage->isEnabled());

  rig.nc.SetSilent(false);
  ASSERT_TRUE(PumpUntil([&] { return window.NC().LinkState() == 0; }, 60s));
  window.tmrDisplayTimer();
  EXPECT_TRUE(window.lblSettings->isEnabled());
  EXPECT_TRUE(window.lblNC->isEnabled());
}

}  // namespace
}  // namespace ecr::nc
