// The register server's main window driven directly: start and stop of the service with
// the real socket server and settings file, the undo of a failed start, the password
// guards, the settings items, the close, and the tray on desktops without a notification
// area or with a tray that reports single activations. The line and polling thread are stood in for
// by a small fake here, except where the register counters must travel from registers to
// clients: there the real line and polling thread serve registers played on a pseudo-terminal.
#include "server_app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "foundation/log_file.h"
#include "line/link_frames.h"
#include "foundation/widgets/offset_dialog.h"
#include "foundation/widgets/password_dialog.h"
#include "foundation/widgets/tray_stand_in.h"
#include "platform/registry.h"
#include "server_app/access_dialog.h"
#include "server/client_message.h"
#include "server/commands.h"
#include "server_app/menu_glyphs.h"
#include "server_app/serial_polling_service.h"
#include "server_app/standard_server_windows.h"
#include "tests/platform/registry_test_folder.h"
#include "tests/server_app/loopback_ports.h"
#include "tests/server_app/window_test_support.h"
#include "tests/support/frame_client.h"
#include "tests/support/key_typing.h"
#include "tests/support/register_emulator.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tray_test_support.h"

namespace ecr {
namespace {

class FakeWindows : public ServerWindows {
 public:
  // Answers of the password prompt while it "shows"; an empty password never shows it.
  bool passwordAnswer = true;
  int passwordShown = 0;
  std::string lastPasswordAsked;
  std::function<void()> whilePasswordShows;
  std::optional<std::string> accessResult;  // nullopt = Cancel
  std::function<void(ServerSettings&)> accessChange;  // what "Apply SET password" did
  std::optional<int> codeTableChoice;       // nullopt = Cancel
  std::function<void(ServerSettings&)> portsChange;
  std::function<void()> whileSearchShows;
  std::vector<std::string> errors;
  StatusTexts status;
  int statusShown = 0;
  int accessShown = 0;

  bool AskPassword(const std::string& adminPassword) override {
    if (adminPassword.empty()) return true;
    ++passwordShown;
    lastPasswordAsked = adminPassword;
    if (whilePasswordShows) whilePasswordShows();
    return passwordAnswer;
  }
  bool EditAccess(ServerSettings& settings, std::string& newAdminPassword) override {
    ++accessShown;
    if (accessChange) accessChange(settings);
    if (!accessResult) return false;
    newAdminPassword = *accessResult;
    return true;
  }
  void EditOffset(std::int32_t& nextNotifyId) override { nextNotifyId = 77; }
  void EditPorts(ServerSettings& settings) override {
    if (portsChange) portsChange(settings);
  }
  bool SelectCodeTable(int& codeTableIndex) override {
    if (!codeTableChoice) return false;
    codeTableIndex = *codeTableChoice;
    return true;
  }
  void ShowLanguageDialog() override {}
  void SearchForEcrs(const std::string&) override {
    if (whileSearchShows) whileSearchShows();
  }
  void TestLine(const std::string&, std::uint16_t) override {}
  void UpdateStatus(const StatusTexts& texts) override { status = texts; }
  void ShowStatus() override { ++statusShown; }
  void OpenHelp() override {}
  void ShowError(const std::string& text) override { errors.push_back(text); }
};

class FakeControl : public PollingControl {
 public:
  void AddEcr(int) override {}
  void RemoveEcr(int) override {}
  void StartNoise() override {}
  void StopNoise() override {}
  void CancelExchange() override {}
  void SetInLineCommand(std::string_view) override {}
  bool SetOnLineAnswer(std::string_view) override { return false; }
  std::size_t BlockCapacity() const override { return BlockDataCapacity(FillCountOf(4800)); }
};

class FakePolling : public PollingService {
 public:
  explicit FakePolling(std::string port) : port_(std::move(port)) {}
  std::string PortName() const override { return port_; }
  PollingControl& Control() override { return control_; }

 private:
  std::string port_;
  FakeControl control_;
};

// Connects to 127.0.0.1:port; true when the connection is taken.
bool CanConnect(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return connected;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.IPPort = 0;  // the socket server picks a free port
  }
  void TearDown() override {
    window_.reset();
    store_.reset();
  }

  std::string StorePath() const { return dir_ + "/harbendix.STG"; }
  std::string IniPath() const { return dir_ + "/harbendix.INI"; }
  void WriteIni(const std::string& text) { std::ofstream(IniPath()) << text; }
  std::string ReadIni() const {
    std::ifstream in(IniPath());
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  TfmMain& Create() { return Create(windows_); }
  TfmMain& Create(ServerWindows& windows) {
    store_ = std::make_unique<TCodeStru>(StorePath(), settings_);
    MainWindowParts parts{settings_, *store_, IniPath(), "v1.0.21.1", 0x0409,
                          [this](const PollingStart& start, RequestEngine& engine, ClientSender& sender)
                              -> std::unique_ptr<PollingService> {
                            starts_.push_back(start);
                            if (lineFailure_) throw std::runtime_error(*lineFailure_);
                            if (realLine_) return MakeSerialPollingService(start, engine, sender);
                            return std::make_unique<FakePolling>(start.comPort);
                          },
                          windows};
    window_ = std::make_unique<TfmMain>(std::move(parts));
    window_->FormCreate();
    return *window_;
  }

  void ExpectRunning(bool running) {
    TfmMain& w = *window_;
    EXPECT_EQ(w.Running(), running);
    EXPECT_EQ(w.IPServer().Active(), running);
    EXPECT_EQ(w.Menu().Item(MenuItem::StartStop)->text().toStdString(), running ? "&Stop" : "&Start");
    EXPECT_EQ(w.Menu().Tag(MenuItem::StartStop), running ? 8 : 7);
    EXPECT_EQ(w.Tray().Image(), running ? kTrayImageRunning : kTrayImageStopped);
    for (const MenuItem item : {MenuItem::Access, MenuItem::Offset, MenuItem::ServerPorts,
                                MenuItem::Codetable, MenuItem::SearchForEcrs,
                                MenuItem::TestLine, MenuItem::Language}) {
      EXPECT_EQ(w.Menu().Item(item)->isEnabled(), !running);
    }
    for (const MenuItem item : {MenuItem::Status, MenuItem::Help, MenuItem::StartStop, MenuItem::Exit})
      EXPECT_TRUE(w.Menu().Item(item)->isEnabled());
  }

  TempDir temp_;
  std::string dir_ = temp_.Path().string();
  ServerSettings settings_;
  std::unique_ptr<TCodeStru> store_;
  FakeWindows windows_;
  std::vector<PollingStart> starts_;
  std::optional<std::string> lineFailure_;
  bool realLine_ = false;  // the real line and polling thread instead of the fake
  std::unique_ptr<TfmMain> window_;
};

TEST_F(MainWindowTest, CreationStartsOnTheStoredPortsAndStopStartAgain) {
  TfmMain& w = Create();
  EXPECT_EQ(w.Title().toStdString(), "Harbendix v1.0.21");
  EXPECT_TRUE(w.isHidden());
  EXPECT_TRUE(w.Tray().Shown());
  EXPECT_EQ(w.Tray().Hint(), w.Title());
  // The application's icon, which the status window's support page shows.
  EXPECT_FALSE(QApplication::windowIcon().isNull());
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), w.Title());
  ExpectRunning(true);
  ASSERT_EQ(starts_.size(), 1u);
  EXPECT_EQ(starts_[0].comPort, "COM1");
  EXPECT_EQ(starts_[0].comSpeed, 4800);
  EXPECT_EQ(starts_[0].codeTable, HarbendixCodeTables().Table(1));
  const std::uint16_t port = w.IPServer().BoundPort();
  EXPECT_TRUE(CanConnect(port));
  EXPECT_EQ(windows_.status.settings, "Port: COM1 Speed: 4800  IP Port: 0");
  EXPECT_EQ(windows_.status.info, "");
  EXPECT_EQ(windows_.status.language, "Code table: Bulgarian");
  EXPECT_EQ(windows_.status.rowCount, 2);

  w.miStartStopClick();  // empty password: no prompt
  EXPECT_EQ(windows_.passwordShown, 0);
  ExpectRunning(false);
  EXPECT_FALSE(CanConnect(port));
  EXPECT_EQ(windows_.status.settings, "Server STOPPED");
  EXPECT_EQ(windows_.status.language, "Code table: Bulgarian");

  w.miStartStopClick();
  ExpectRunning(true);
  EXPECT_EQ(starts_.size(), 2u);
  EXPECT_TRUE(windows_.errors.empty());
}

TEST_F(MainWindowTest, FailedStartsUndoThemselvesAndStartCanTryAgain) {
  lineFailure_ = "Port COM1 not found";
  TfmMain& w = Create();
  ASSERT_EQ(windows_.errors.size(), 1u);
  EXPECT_EQ(windows_.errors[0], "Port COM1 not found");
  ExpectRunning(false);
  EXPECT_EQ(windows_.status.settings, "Server STOPPED");

  // The TCP port taken: the socket server's own message; the line is not even made.
  const testing::TakenPort taken;
  settings_.IPPort = taken.Port();
  lineFailure_.reset();
  w.miStartStopClick();
  ASSERT_EQ(windows_.errors.size(), 2u);
  EXPECT_NE(windows_.errors[1].find("Bind error: "), std::string::npos) << windows_.errors[1];
  EXPECT_EQ(starts_.size(), 1u);
  ExpectRunning(false);

  settings_.IPPort = 0;
  w.miStartStopClick();
  ExpectRunning(true);
  EXPECT_EQ(windows_.errors.size(), 2u);
}

TEST_F(MainWindowTest, GuardedItemsAskTheAdministratorPassword) {
  settings_.AdminPassword = "secret";
  TfmMain& w = Create();
  windows_.passwordAnswer = false;
  w.miStartStopClick();
  EXPECT_EQ(windows_.passwordShown, 1);
  EXPECT_EQ(windows_.lastPasswordAsked, "secret");
  ExpectRunning(true);

  windows_.passwordAnswer = true;
  w.miStartStopClick();
  ExpectRunning(false);

  // Starting needs no password.
  w.miStartStopClick();
  EXPECT_EQ(windows_.passwordShown, 2);
  ExpectRunning(true);
  w.miStartStopClick();

  windows_.passwordAnswer = false;
  windows_.accessResult = "newpass";
  for (auto click : {&TfmMain::miAccessClick, &TfmMain::miOffsetClick, &TfmMain::miPortsClick,
                     &TfmMain::miCodeTableClick, &TfmMain::miLanguageClick}) {
    (w.*click)();
  }
  EXPECT_EQ(windows_.passwordShown, 8);
  EXPECT_EQ(windows_.accessShown, 0);
  EXPECT_EQ(settings_.AdminPassword.Get(), "secret");
  EXPECT_EQ(settings_.NextNotifyId, 1);

  // A second guarded click while the prompt shows only brings the application forward.
  windows_.passwordAnswer = true;
  windows_.whilePasswordShows = [&] { w.miOffsetClick(); w.miStartStopClick(); };
  w.miAccessClick();
  EXPECT_EQ(windows_.passwordShown, 9);
  EXPECT_EQ(settings_.NextNotifyId, 1);
  EXPECT_EQ(settings_.AdminPassword.Get(), "newpass");
  EXPECT_FALSE(w.Running());
}

TEST_F(MainWindowTest, SettingsItemsSaveAsTheyShould) {
  TfmMain& w = Create();
  w.miStartStopClick();
  ASSERT_FALSE(w.Running());
  // The stop saved the register counters of the run.
  EXPECT_EQ(std::filesystem::file_size(StorePath()), 13u + ServerSettings::size() + 4u);

  // The ports dialog saves whatever its result.
  std::filesystem::resize_file(StorePath(), 0);
  w.miPortsClick();
  EXPECT_EQ(std::filesystem::file_size(StorePath()), 13u + ServerSettings::size() + 4u);

  // The access dialog: Cancel saves nothing; OK keeps what fits in 9 bytes and saves.
  w.miAccessClick();
  EXPECT_EQ(settings_.AdminPassword.Get(), "");
  windows_.accessResult = "абвгд";  // never a character cut in two
  w.miAccessClick();
  EXPECT_EQ(settings_.AdminPassword.Get(), "абвг");
  windows_.accessResult = "123456789012";
  w.miAccessClick();
  EXPECT_EQ(settings_.AdminPassword.Get(), "123456789");
  w.miOffsetClick();
  EXPECT_EQ(settings_.NextNotifyId, 77);
  settings_.AdminPassword = "changed";
  settings_.NextNotifyId = 5;
  store_->Load();
  EXPECT_EQ(settings_.AdminPassword.Get(), "123456789");
  EXPECT_EQ(settings_.NextNotifyId, 77);

  // The ports dialog's values are used by the next start.
  windows_.passwordAnswer = true;
  windows_.portsChange = [](ServerSettings& s) {
    s.ComPort = "COM7";
    s.ComSpeed = 9600;
  };
  w.miPortsClick();
  w.miStartStopClick();
  ASSERT_TRUE(w.Running());
  EXPECT_EQ(starts_.back().comPort, "COM7");
  EXPECT_EQ(starts_.back().comSpeed, 9600);
  EXPECT_EQ(windows_.status.settings, "Port: COM7 Speed: 9600  IP Port: 0");
}

// An administrator password typed in Cyrillic, five and twelve letters, with the keyboard
// alone: the access dialog keeps what fits of it in the record's 9 bytes (four letters),
// and the same typing at the prompt opens the guarded items.
TEST_F(MainWindowTest, ACyrillicAdministratorPasswordTypedInTheAccessDialogOpensThePrompt) {
  const std::string program = dir_ + "/harbendix";
  std::ofstream(program) << "program";
  const Registry registry(temp_.Path() / "registry");
  window_test::BoxRecorder boxes;
  for (const char* typed : {"абвгд", "абвгдежзийкл"}) {
    SCOPED_TRACE(typed);
    const QString password = QString::fromUtf8(typed);
    std::filesystem::remove(StorePath());
    settings_ = ServerSettings{};
    settings_.IPPort = 0;
    StandardServerWindows windows({program, registry, 0x0409});
    TfmMain& w = Create(windows);
    w.miStartStopClick();  // no password yet: stops without a prompt
    ASSERT_FALSE(w.Running());

    QObject waits;
    window_test::WhenShownAs<TfmAccess>(
        [&](TfmAccess& access) {
          test::TypeText(access.eNewPW, password);
          QTest::keyClick(access.focusWidget(), Qt::Key_Return);
          test::TypeText(access.eVerify, password);
          QTest::keyClick(access.focusWidget(), Qt::Key_Return);
          QTest::keyClick(access.focusWidget(), Qt::Key_Return);  // on the focused OK
          if (access.isVisible()) access.BitBtnCancel->click();
        },
        &waits);
    w.miAccessClick();
    EXPECT_EQ(settings_.AdminPassword.Get(), "абвг");
    settings_.AdminPassword = "";
    store_->Load();
    EXPECT_EQ(settings_.AdminPassword.Get(), "абвг");

    // Answered with the same typing, the prompt opens the offset dialog.
    bool offsetShown = false;
    window_test::WhenShownAs<TfmPassword>(
        [&](TfmPassword& prompt) {
          test::TypeText(prompt.ePassword, password);
          QTest::keyClick(prompt.ePassword, Qt::Key_Return);
          if (prompt.isVisible()) prompt.BitBtnCancel->click();
        },
        &waits);
    window_test::WhenShownAs<TfmOffset>(
        [&](TfmOffset& offset) {
          offsetShown = true;
          offset.BitBtncancel->click();
        },
        &waits);
    w.miOffsetClick();
    EXPECT_TRUE(offsetShown);
    EXPECT_TRUE(boxes.texts.empty());
    window_.reset();
    store_.reset();
  }
}

// An exception that a socket event's handler raises reaches the log as LogException writes
// it (the socket server raises OnError from inside its catch).
struct HandlerFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST_F(MainWindowTest, SocketEventExceptionsGoToTheLog) {
  TfmMain& w = Create();
  ASSERT_TRUE(w.IPServer().OnError);
  const std::string text = "a fault in a handler " + std::to_string(getpid()) + " " + dir_;
  try {
    throw HandlerFault(text);
  } catch (const std::exception& error) {
    w.IPServer().OnError(0, error.what());
  }
  std::ifstream in(ProcessLog().Path(), std::ios::binary);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_NE(log.str().find("EXCEPTION in TfmMain.IPServer - HandlerFault:\r\n" + text + "\r\n"), std::string::npos);
}

TEST_F(MainWindowTest, SetPasswordsAppliedInTheAccessDialogLastUntilAStartLoadsTheFile) {
  TfmMain& w = Create();
  w.miStartStopClick();
  w.miPortsClick();  // a settings file without SET passwords
  windows_.accessChange = [](ServerSettings& s) { s.SetPassword(3) = "three"; };

  // Cancel: in force at once, but only in memory; the start loads the file and drops it.
  w.miAccessClick();
  EXPECT_EQ(settings_.SetPassword(3).Get(), "three");
  w.miStartStopClick();
  ASSERT_TRUE(w.Running());
  EXPECT_EQ(settings_.SetPassword(3).Get(), "");

  // OK saves the record, SET passwords with it: the next start keeps them.
  w.miStartStopClick();
  windows_.accessResult = "";
  w.miAccessClick();
  w.miStartStopClick();
  ASSERT_TRUE(w.Running());
  EXPECT_EQ(settings_.SetPassword(3).Get(), "three");
}

TEST_F(MainWindowTest, CodeTableChoiceGoesToTheIniAndTheNextStart) {
  WriteIni("[Options]\nOldFPMode=1\n");
  TfmMain& w = Create();
  EXPECT_EQ(w.CodeTableIndex(), 1);
  EXPECT_TRUE(w.OldFPMode());
  EXPECT_EQ(windows_.status.info, "Old FP");
  w.miStartStopClick();

  windows_.codeTableChoice = 3;
  w.miCodeTableClick();
  EXPECT_EQ(w.CodeTableIndex(), 3);
  EXPECT_EQ(w.LanguageID(), 0x0415);
  EXPECT_EQ(windows_.status.language, "Code table: Polish");
  EXPECT_EQ(ReadIni(), "[Options]\nOldFPMode=1\nLanguageID=1045\n");

  // A hand edit of the INI takes effect at the next start.
  WriteIni("[Options]\nLanguageID=0x405\n");
  w.miStartStopClick();
  EXPECT_EQ(w.CodeTableIndex(), 10);
  EXPECT_FALSE(w.OldFPMode());
  EXPECT_EQ(windows_.status.info, "");
  EXPECT_EQ(starts_.back().codeTable, HarbendixCodeTables().Table(10));
  EXPECT_EQ(windows_.status.language, "Code table: Czech");
}

TEST_F(MainWindowTest, CloseSavesAsksAndStops) {
  settings_.AdminPassword = "secret";
  TfmMain& w = Create();
  QSignalSpy closed(&w, &TfmMain::Closed);
  windows_.passwordAnswer = false;
  w.miExitServClick();
  EXPECT_EQ(closed.count(), 0);
  ExpectRunning(true);
  EXPECT_GT(std::filesystem::file_size(StorePath()), 0u);  // saved before the prompt

  // A close request of a second start with the wrong password changes nothing; with the
  // right one the window closes without its prompt.
  const int asked = windows_.passwordShown;
  w.SelfMessengerSelfEvent(2, "wrong", false);
  QCoreApplication::processEvents();
  EXPECT_EQ(closed.count(), 0);
  EXPECT_EQ(windows_.passwordShown, asked);
  w.SelfMessengerSelfEvent(2, "secret", false);
  EXPECT_TRUE(QTest::qWaitFor([&] { return closed.count() == 1; }, 5000));
  EXPECT_EQ(windows_.passwordShown, asked);
  EXPECT_FALSE(w.Running());
  EXPECT_FALSE(w.Tray().Shown());
}

// A client on the running service that owns SET 1 of register 7, which a register played on
// a pseudo-terminal mapped as COM1 serves; the main thread's loop runs while it waits.
class NotificationOwner {
 public:
  explicit NotificationOwner(std::uint16_t port) : client_(port) {
    EXPECT_TRUE(client_.Connected());
    EXPECT_TRUE(client_.Send(BuildClientMessage(1, cmdOpen, kEcr, 0, {}, {})));
    EXPECT_EQ(NextPayload(), "HARBENDIX");
  }
  // The payload of the next message, "(nothing)" when none came in time.
  std::string NextPayload() {
    std::optional<std::string> message;
    (void)QTest::qWaitFor(
        [&] {
          message = client_.Receive(std::chrono::milliseconds(5));
          return message.has_value();
        },
        20000);
    return message ? ParseClientMessage(*message).Payload : "(nothing)";
  }

  static constexpr int kEcr = 7;

 private:
  FrameClient client_;
};

// The register counters are handed out once only, whatever comes between two
// notifications: a stop and a start of the service from the menu, or a close through the
// password prompt (the service goes on while it shows) and a new start of the program.
TEST_F(MainWindowTest, NotificationNumbersGoOnAfterAStopAndStartAndAfterAClose) {
  struct Road {
    const char* what;
    // Interrupts the service after the first two notifications; the sequence number the
    // next one must carry.
    std::function<void(RegisterEmulator&, NotificationOwner&)> interrupt;
    int nextSequence;
  };
  const Road roads[] = {
      {"Stop, then Start",
       [this](RegisterEmulator&, NotificationOwner&) {
         window_->miStartStopClick();
         ASSERT_FALSE(window_->Running());
         window_->miStartStopClick();
         ASSERT_TRUE(window_->Running());
       },
       3},
      {"a close through the prompt, then a new start",
       [this](RegisterEmulator& emulator, NotificationOwner& owner) {
         windows_.whilePasswordShows = [&] {
           emulator.Register(NotificationOwner::kEcr).QueueOnLineMessage("123456;3;0;C;");
           EXPECT_EQ(owner.NextPayload(), "123456;3;C;3;1;");
         };
         window_->miExitServClick();
         ASSERT_TRUE(window_->IsClosed());
         windows_.whilePasswordShows = nullptr;
         window_.reset();
         store_.reset();
         settings_ = ServerSettings{};  // a new process
         Create();
         ASSERT_TRUE(window_->Running());
       },
       4},
  };
  for (const Road& road : roads) {
    SCOPED_TRACE(road.what);
    const test::RegistryTestFolder registry;
    const test::SavedEnvironment registryRoot("ECR_REGISTRY", registry.RegistryRoot().c_str());
    RegisterEmulator emulator;
    emulator.AddRegister(NotificationOwner::kEcr).SetStatus("123456;");
    registry.AddDeviceKey("Enum/Serial/COM1", "COM1", emulator.PortPath());
    realLine_ = true;
    settings_ = ServerSettings{};
    settings_.AdminPassword = "secret";
    settings_.IPPort = 0;
    TCodeStru(StorePath(), settings_).Save();  // the record as an earlier run left it
    Create();
    ASSERT_TRUE(window_->Running()) << (windows_.errors.empty() ? "" : windows_.errors.back());
    {
      NotificationOwner owner(window_->IPServer().BoundPort());
      emulator.Register(NotificationOwner::kEcr).QueueOnLineMessage("123456;1;0;A;");
      EXPECT_EQ(owner.NextPayload(), "123456;1;A;1;1;");
      emulator.Register(NotificationOwner::kEcr).QueueOnLineMessage("123456;2;0;B;");
      EXPECT_EQ(owner.NextPayload(), "123456;2;B;2;1;");
      road.interrupt(emulator, owner);
    }
    NotificationOwner owner(window_->IPServer().BoundPort());
    emulator.Register(NotificationOwner::kEcr).QueueOnLineMessage("123456;4;0;D;");
    EXPECT_EQ(owner.NextPayload(), "123456;4;D;" + std::to_string(road.nextSequence) + ";1;");
    window_.reset();
    store_.reset();
    std::filesystem::remove(StorePath());
  }
}

// The end of the session (or a signal) closes without the prompt, also while a prompt
// shows, and saves like every close.
TEST_F(MainWindowTest, TheEndOfTheSessionClosesWithoutThePrompt) {
  settings_.AdminPassword = "secret";
  TfmMain& w = Create();
  QSignalSpy closed(&w, &TfmMain::Closed);
  const int asked = windows_.passwordShown;
  w.EndSession();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(windows_.passwordShown, asked);
  EXPECT_TRUE(w.IsClosed());
  EXPECT_FALSE(w.Running());
  EXPECT_FALSE(w.Tray().Shown());
  EXPECT_GT(std::filesystem::file_size(StorePath()), 0u);
  w.EndSession();  // closed already: nothing more
  EXPECT_EQ(closed.count(), 1);

  // While the prompt of Stop shows: the close comes from inside it.
  window_.reset();
  store_.reset();
  TfmMain& again = Create();
  QSignalSpy closedAgain(&again, &TfmMain::Closed);
  windows_.passwordAnswer = false;
  windows_.whilePasswordShows = [&again] { again.EndSession(); };
  again.miStartStopClick();
  EXPECT_EQ(closedAgain.count(), 1);
  EXPECT_TRUE(again.IsClosed());
  EXPECT_FALSE(again.Running());
}

TEST_F(MainWindowTest, CloseRequestWithThePasswordEndsAnOpenPrompt) {
  settings_.AdminPassword = "secret";
  TfmMain& w = Create();
  QSignalSpy closed(&w, &TfmMain::Closed);
  windows_.passwordAnswer = false;  // the user never answers: the prompt ends unanswered
  bool requested = false;
  windows_.whilePasswordShows = [&] {
    if (requested) return;
    requested = true;
    w.SelfMessengerSelfEvent(2, "secret", false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed.count() == 1; }, 5000));
  };
  w.miStartStopClick();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(windows_.passwordShown, 1);
  EXPECT_TRUE(w.IsClosed());
  EXPECT_FALSE(w.Running());
  w.miExitServClick();  // closed already: nothing more
  EXPECT_EQ(closed.count(), 1);
}

TEST_F(MainWindowTest, TrayClicksAndTheOpenDialog) {
  TfmMain& w = Create();
  w.miStartStopClick();
  w.TrayIconClick(Qt::LeftButton, QPoint(50, 50));
  EXPECT_FALSE(w.Menu().Menu().isVisible());
  w.TrayIconClick(Qt::RightButton, QPoint(50, 50));
  EXPECT_TRUE(w.Menu().Menu().isVisible());
  w.Menu().Menu().hide();

  bool sawDialogOpen = false;
  windows_.whileSearchShows = [&] {
    sawDialogOpen = w.DialogOpen();
    w.TrayIconClick(Qt::RightButton, QPoint(50, 50));
    EXPECT_FALSE(w.Menu().Menu().isVisible());
  };
  w.miSearchForEcrsClick();
  EXPECT_TRUE(sawDialogOpen);
  EXPECT_FALSE(w.DialogOpen());

  w.TrayIconDblClick();
  w.Menu().Item(MenuItem::Status)->trigger();
  EXPECT_EQ(windows_.statusShown, 2);
}

// The same pixels: the tray images are drawn anew each time.
bool SameImage(const QIcon& a, const QIcon& b) { return a.pixmap(16, 16).toImage() == b.pixmap(16, 16).toImage(); }

TEST_F(MainWindowTest, WithoutANotificationAreaAWindowStandsInForTheTrayIcon) {
  test::FakeTrayDesktop desktop(test::kDesktopWithoutTray);
  TfmMain& w = Create();
  TrayStandIn* standIn = w.Tray().Desktop().StandIn();
  ASSERT_NE(standIn, nullptr);
  EXPECT_TRUE(standIn->isVisible());
  EXPECT_EQ(standIn->windowTitle(), w.Title());
  EXPECT_FALSE(w.Tray().OnDesktop());
  EXPECT_TRUE(SameImage(standIn->windowIcon(), TrayImage(kTrayImageRunning)));
  w.StopServer();
  EXPECT_TRUE(SameImage(standIn->windowIcon(), TrayImage(kTrayImageStopped)));

  // Its menu button opens the tray menu, its double click the status window.
  standIn->MenuButton()->click();
  EXPECT_TRUE(w.Menu().Menu().isVisible());
  w.Menu().Menu().hide();
  test::DoubleClickOn(*standIn);
  EXPECT_EQ(windows_.statusShown, 1);

  // Closing it ends nothing.
  EXPECT_FALSE(standIn->close());
  EXPECT_TRUE(standIn->isVisible());
  EXPECT_FALSE(w.IsClosed());

  // A panel started later takes over; one that goes away gives the stand-in back.
  desktop.kind = test::kEmbeddedTray;
  w.Tray().Desktop().CheckTray();
  EXPECT_EQ(w.Tray().Desktop().StandIn(), nullptr);
  EXPECT_TRUE(w.Tray().OnDesktop());
  EXPECT_TRUE(w.Tray().Desktop().SystemIcon().isVisible());
  EXPECT_EQ(w.Tray().Desktop().SystemIcon().toolTip(), w.Title());
  desktop.kind = test::kDesktopWithoutTray;
  w.Tray().Desktop().CheckTray();
  ASSERT_NE(w.Tray().Desktop().StandIn(), nullptr);

  // "E&xit" from its menu ends the program and takes it away.
  QSignalSpy closed(&w, &TfmMain::Closed);
  w.Menu().Item(MenuItem::Exit)->trigger();
  EXPECT_EQ(closed.count(), 1);
  EXPECT_EQ(w.Tray().Desktop().StandIn(), nullptr);
}

// A StatusNotifierItem tray reports a left click as a single activation and a right click
// as a context request: the menu, and through it the status window and "E&xit", is there.
TEST_F(MainWindowTest, OnATrayOfSingleActivationsTheRightClickBringsTheMenu) {
  test::FakeTrayDesktop desktop(test::kStatusNotifierTray);
  TfmMain& w = Create();
  EXPECT_EQ(w.Tray().Desktop().StandIn(), nullptr);
  emit w.Tray().Desktop().SystemIcon().activated(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(w.Menu().Menu().isVisible());
  emit w.Tray().Desktop().SystemIcon().activated(QSystemTrayIcon::Context);
  EXPECT_TRUE(w.Menu().Menu().isVisible());
  w.Menu().Item(MenuItem::Status)->trigger();
  EXPECT_EQ(windows_.statusShown, 1);
  w.Menu().Menu().hide();
}

}  // namespace
}  // namespace ecr
