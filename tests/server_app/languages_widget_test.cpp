// The user-interface languages: the module chosen at start, SetLanguage and its results,
// the language dialog with its questions and boxes, the help file, and the real Bulgarian
// module installed as the program's texts.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "server_app/access_dialog.h"
#include "server_app/language_dialog.h"
#include "server_app/language_flags.h"
#include "server_app/language_module.h"
#include "server_app/language_modules.h"
#include "server_app/language_selection.h"
#include "server_app/line_test_dialog.h"
#include "server_app/ports_dialog.h"
#include "server_app/register_search_dialog.h"
#include "server_app/status_window.h"
#include "server_app/window_set.h"
#include "tests/server_app/window_test_support.h"
#include "tests/support/temp_dir.h"

namespace ecr {
namespace {

using window_test::BoxRecorder;
using window_test::WhenModal;

constexpr std::uint16_t kEnglishUs = 0x0409;
constexpr std::uint16_t kBulgarian = 0x0402;
constexpr std::uint16_t kGerman = 0x0407;

// The Bulgarian module the build lays beside the program.
std::string BuiltBulgarianModule() {
  return (std::filesystem::path(ECR_HARBENDIX_PATH).parent_path() / "harbendix.BGR").string();
}

class LanguagesTest : public ::testing::Test {
 protected:
  TempDir temp;
  std::string program = temp.File("harbendix");
  Registry registry{temp.Path() / "registry"};

  void SetUp() override { std::ofstream(program) << "program"; }

  // A module that loads (a copy of the real one) or a file that does not.
  void AddModule(const std::string& ext, bool loads = true) {
    const std::string path = LanguageModulePath(program, ext);
    if (loads) {
      ASSERT_TRUE(std::filesystem::exists(BuiltBulgarianModule())) << BuiltBulgarianModule();
      std::filesystem::copy_file(BuiltBulgarianModule(), path);
    } else {
      std::ofstream(path) << "not a module";
    }
  }
  void Store(const std::string& ext) {
    registry.CreateKey(RegistryHive::CurrentUser, kLocalesKeyPath)->WriteString(LocalesValueName(program), ext);
  }
  std::optional<std::string> Stored() const {
    const auto key = registry.OpenKey(RegistryHive::CurrentUser, kLocalesKeyPath);
    return key ? key->ReadString(LocalesValueName(program)) : std::nullopt;
  }
  LanguageSelection Select(std::uint16_t threadLangId) {
    return LanguageSelection(program, registry, threadLangId, LanguageModule::Loads);
  }
};

TEST_F(LanguagesTest, NoModulesGiveBuiltInTextsAndTheProgramsHelpFile) {
  LanguageSelection selection = Select(kEnglishUs);
  EXPECT_EQ(selection.ActiveLanguage(), "");
  EXPECT_EQ(selection.NextLanguage(), "");
  EXPECT_EQ(selection.ActiveFlag(), 0);
  EXPECT_TRUE(selection.ExtToName().empty());
  EXPECT_EQ(selection.HelpFile(), temp.File("harbendix.hlp"));

  TfmLanguageSelection dialog(selection);
  dialog.show();
  EXPECT_EQ(dialog.cbLanguages->count(), 0);
  EXPECT_EQ(dialog.lblActiveLng->text(), "No Active Language");
  window_test::SavePicture(dialog, "language_dialog_empty");
}

TEST_F(LanguagesTest, ActiveLanguageAtStart) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, bool>> modules;  // ext, loads
    std::optional<std::string> stored;
    std::uint16_t threadLangId;
    const char* active;
  };
  const Case cases[] = {
      {"thread locale's module", {{"ENU", true}}, std::nullopt, kEnglishUs, "ENU"},
      {"module found without regard to case", {{"enu", true}}, std::nullopt, kEnglishUs, "ENU"},
      {"stored choice first", {{"ENU", true}, {"BGR", true}}, "BGR", kEnglishUs, "BGR"},
      {"stored module deleted", {{"ENU", true}}, "BGR", kEnglishUs, "ENU"},
      {"module that does not load", {{"ENU", false}}, std::nullopt, kEnglishUs, ""},
      {"locale without a module", {{"BGR", true}}, std::nullopt, kGerman, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    program = folder.File("harbendix");
    std::ofstream(program) << "program";
    registry = Registry(folder.Path() / "registry");
    for (const auto& [ext, loads] : c.modules) AddModule(ext, loads);
    if (c.stored) Store(*c.stored);
    LanguageSelection selection = Select(c.threadLangId);
    EXPECT_EQ(selection.ActiveLanguage(), c.active);
    EXPECT_EQ(selection.NextLanguage(), c.active);
    EXPECT_EQ(selection.ActiveFlag(), LanguageSelection::FlagIndex(c.active));
  }
}

TEST_F(LanguagesTest, StartupModulesInOrderOfPreference) {
  AddModule("BGR");
  AddModule("BG");
  AddModule("ENU");
  Store("enu");
  EXPECT_EQ(StartupModuleCandidates(registry, program, kBulgarian),
            (std::vector<std::string>{temp.File("harbendix.ENU"), temp.File("harbendix.BGR"), temp.File("harbendix.BG")}));
  // Without a value for the program the key's default value counts.
  registry.CreateKey(RegistryHive::CurrentUser, kLocalesKeyPath)->WriteString(LocalesValueName(program), "");
  std::filesystem::remove(temp.File("harbendix.BGR"));
  EXPECT_EQ(StartupModuleCandidates(registry, program, kBulgarian), (std::vector<std::string>{temp.File("harbendix.BG")}));
  registry.CreateKey(RegistryHive::CurrentUser, kLocalesKeyPath)->WriteString("", "ENU");
  const auto key = registry.OpenKey(RegistryHive::CurrentUser, kLocalesKeyPath);
  std::filesystem::remove(key->Folder() / LocalesValueName(program));
  EXPECT_EQ(StartupModuleCandidates(registry, program, kBulgarian).front(), temp.File("harbendix.ENU"));
}

TEST_F(LanguagesTest, SetLanguageResults) {
  AddModule("ENU");
  AddModule("BGR");
  LanguageSelection selection = Select(kEnglishUs);
  EXPECT_EQ(selection.SetLanguage("RUS"), slModuleMissing);
  EXPECT_EQ(selection.SetLanguage("ENU"), slNothingToChange);
  EXPECT_EQ(selection.SetLanguage("BGR"), slStored);
  EXPECT_EQ(Stored(), "BGR");
  EXPECT_EQ(selection.NextLanguage(), "BGR");
  EXPECT_EQ(selection.NextFlag(), 1);
  EXPECT_EQ(selection.ActiveLanguage(), "ENU");

  // A registry that cannot be written: the key cannot be made.
  std::ofstream(temp.File("blocked")) << "a file, not a folder";
  LanguageSelection blocked(program, Registry(temp.Path() / "blocked"), kEnglishUs, LanguageModule::Loads);
  EXPECT_EQ(blocked.SetLanguage("BGR"), slKeyNotOpened);
}

TEST_F(LanguagesTest, HelpFileOrderOfPreference) {
  AddModule("BGR");
  Store("BGR");
  const std::string files[] = {temp.File("harbendixBGR.hlp"), temp.File("harbendix_BGR.hlp"), temp.File("harbendix.hlp")};
  for (const std::string& file : files) std::ofstream(file) << "help";
  for (const std::string& expected : files) {
    EXPECT_EQ(Select(kEnglishUs).HelpFile(), expected);
    std::filesystem::remove(expected);
  }
  EXPECT_EQ(Select(kEnglishUs).HelpFile(), files[2]);
}

class LanguageDialogTest : public LanguagesTest {
 protected:
  void SetUp() override {
    LanguagesTest::SetUp();
    AddModule("ENU");
    AddModule("BGR");
  }
  // Shows the dialog, picks `name`, presses OK; returns whether the dialog closed.
  bool ChooseAndOk(TfmLanguageSelection& dialog, const QString& name) {
    bool closed = false;
    WhenModal([&] {
      dialog.cbLanguages->setCurrentIndex(dialog.cbLanguages->findText(name));
      dialog.bbtnOK->click();
      closed = !dialog.isVisible();
      if (!closed) dialog.bbtnCancel->click();
    });
    dialog.ShowLanguageDialog();
    return closed;
  }
};

TEST_F(LanguageDialogTest, ListsTheModulesAndSelectsTheNextLanguage) {
  LanguageSelection selection = Select(kEnglishUs);
  TfmLanguageSelection dialog(selection);
  WhenModal([&] {
    QStringList names;
    for (int i = 0; i < dialog.cbLanguages->count(); ++i) names << dialog.cbLanguages->itemText(i);
    EXPECT_EQ(names, QStringList({"Bulgarian", "English (United States)"}));
    EXPECT_EQ(dialog.cbLanguages->currentText(), "English (United States)");
    EXPECT_EQ(dialog.lblActiveLng->text(), "English (United States)");
    dialog.cbLanguages->setCurrentIndex(0);
    EXPECT_EQ(dialog.ChosenLanguage(), "BGR");
    EXPECT_EQ(dialog.imgSelectedLng->pixmap().toImage(), LanguageFlag(1).toImage());
    window_test::SavePicture(dialog, "language_dialog");
    dialog.bbtnCancel->click();
  });
  EXPECT_EQ(dialog.ShowLanguageDialog(), 2);
  EXPECT_EQ(Stored(), std::nullopt);
}

TEST_F(LanguageDialogTest, SameLanguageClosesWithoutAQuestion) {
  BoxRecorder boxes;
  LanguageSelection selection = Select(kEnglishUs);
  TfmLanguageSelection dialog(selection);
  EXPECT_TRUE(ChooseAndOk(dialog, "English (United States)"));
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_FALSE(dialog.CloseRequested());
}

TEST_F(LanguageDialogTest, AnotherLanguageIsStoredAfterYesAndOffersTheRestart) {
  struct Case {
    QMessageBox::StandardButton change, restart;
    bool closed, stored, closeRequested;
  };
  const Case cases[] = {
      {QMessageBox::No, QMessageBox::No, false, false, false},
      {QMessageBox::Yes, QMessageBox::No, true, true, false},
      {QMessageBox::Yes, QMessageBox::Yes, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.change << " " << c.restart);
    registry.DeleteKey(RegistryHive::CurrentUser, kLocalesKeyPath);
    BoxRecorder boxes;
    boxes.answers = {c.change, c.restart};
    LanguageSelection selection = Select(kEnglishUs);
    TfmLanguageSelection dialog(selection);
    EXPECT_EQ(ChooseAndOk(dialog, "Bulgarian"), c.closed);
    ASSERT_FALSE(boxes.texts.empty());
    EXPECT_EQ(boxes.texts[0], "Are sure you want to change language?");
    EXPECT_EQ(boxes.kinds[0], kMsgConfirmation);
    EXPECT_EQ(Stored().has_value(), c.stored);
    if (c.stored) {
      ASSERT_EQ(boxes.texts.size(), 2u);
      EXPECT_EQ(boxes.texts[1],
                "Language changed.\r\nThe program needs restart for chages to take effect.\r\nClose program now?");
      EXPECT_EQ(selection.NextLanguage(), "BGR");
      EXPECT_EQ(selection.ActiveLanguage(), "ENU");
    }
    EXPECT_EQ(dialog.CloseRequested(), c.closeRequested);
  }
}

TEST_F(LanguageDialogTest, AModuleGoneSinceTheListWasMadeKeepsTheDialogOpen) {
  BoxRecorder boxes(QMessageBox::Yes);
  LanguageSelection selection = Select(kEnglishUs);
  TfmLanguageSelection dialog(selection);
  std::filesystem::remove(temp.File("harbendix.BGR"));
  EXPECT_FALSE(ChooseAndOk(dialog, "Bulgarian"));
  ASSERT_EQ(boxes.texts.size(), 2u);
  EXPECT_EQ(boxes.texts[1], temp.File("harbendix.BGR") + "\r\nnot found");
  EXPECT_EQ(boxes.kinds[1], kMsgError);
  EXPECT_EQ(Stored(), std::nullopt);
}

TEST_F(LanguageDialogTest, RegistryFailuresShowTheirBoxesAndKeepTheDialogOpen) {
  struct Case {
    const char* name;
    int result;
    const char* box;
  };
  const Case cases[] = {
      {"the key cannot be made", slKeyNotOpened, "Unable to open created Reg Key"},
      {"the value cannot be written", slError, "ERROR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder;
    Registry failing(folder.Path() / "registry");
    if (c.result == slKeyNotOpened) {
      std::ofstream(folder.File("registry")) << "a file, not a folder";
    } else {
      // A key where the value would go: the value cannot take its place.
      const auto key = failing.CreateKey(RegistryHive::CurrentUser, kLocalesKeyPath);
      ASSERT_TRUE(key);
      std::filesystem::create_directory(key->Folder() / LocalesValueName(program));
    }
    LanguageSelection selection(program, failing, kEnglishUs, LanguageModule::Loads);
    EXPECT_EQ(selection.SetLanguage("BGR"), c.result);
    BoxRecorder boxes(QMessageBox::Yes);
    TfmLanguageSelection dialog(selection);
    EXPECT_FALSE(ChooseAndOk(dialog, "Bulgarian"));
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[1], c.box);
    EXPECT_EQ(boxes.kinds[1], kMsgError);
    EXPECT_EQ(selection.NextLanguage(), "ENU");
    EXPECT_FALSE(dialog.CloseRequested());
  }
}

// The only module is Bulgarian on an English machine and nothing is stored: no language is
// active and none is chosen, so the list shows no choice, and choosing Bulgarian is a change
// that OK asks about and stores.
TEST_F(LanguagesTest, WithNoChoiceStoredTheListShowsNoneAndTheOnlyModuleCanBeChosen) {
  AddModule("BGR");
  LanguageSelection selection = Select(kEnglishUs);
  ASSERT_EQ(selection.NextLanguage(), "");
  BoxRecorder boxes;
  boxes.answers = {QMessageBox::Yes, QMessageBox::No};
  TfmLanguageSelection dialog(selection);
  // OK on the empty choice changes nothing.
  WhenModal([&] {
    EXPECT_EQ(dialog.cbLanguages->count(), 1);
    EXPECT_EQ(dialog.cbLanguages->currentIndex(), -1);
    EXPECT_EQ(dialog.cbLanguages->currentText(), "");
    EXPECT_EQ(dialog.lblActiveLng->text(), "No Active Language");
    dialog.bbtnOK->click();
  });
  EXPECT_EQ(dialog.ShowLanguageDialog(), 1);
  EXPECT_TRUE(boxes.texts.empty());
  EXPECT_EQ(Stored(), std::nullopt);

  bool closed = false;
  WhenModal([&] {
    EXPECT_EQ(dialog.cbLanguages->currentIndex(), -1);
    dialog.cbLanguages->setCurrentIndex(dialog.cbLanguages->findText("Bulgarian"));
    EXPECT_EQ(dialog.ChosenLanguage(), "BGR");
    EXPECT_EQ(dialog.imgSelectedLng->pixmap().toImage(), LanguageFlag(1).toImage());
    dialog.bbtnOK->click();
    closed = !dialog.isVisible();
    if (!closed) dialog.bbtnCancel->click();
  });
  dialog.ShowLanguageDialog();
  EXPECT_TRUE(closed);
  ASSERT_EQ(boxes.texts.size(), 2u);
  EXPECT_EQ(boxes.texts[0], "Are sure you want to change language?");
  EXPECT_EQ(boxes.texts[1],
            "Language changed.\r\nThe program needs restart for chages to take effect.\r\nClose program now?");
  EXPECT_EQ(Stored(), "BGR");
  EXPECT_EQ(selection.NextLanguage(), "BGR");

  // Shown again, the list shows the stored choice.
  WhenModal([&] {
    EXPECT_EQ(dialog.cbLanguages->currentText(), "Bulgarian");
    dialog.bbtnCancel->click();
  });
  dialog.ShowLanguageDialog();
}

TEST_F(LanguagesTest, TheBulgarianModuleSuppliesTheTextsOfThisStart) {
  AddModule("BGR");
  Store("BGR");
  {
    ServerWindowSet windows({program, registry, kEnglishUs});
    EXPECT_EQ(windows.Module().Path(), temp.File("harbendix.BGR"));
    EXPECT_EQ(windows.Languages().ActiveLanguage(), "BGR");
    EXPECT_EQ(windows.ActiveFlag().pixmap(16).toImage(), LanguageFlag(1).toImage());
    EXPECT_EQ(QCoreApplication::translate("TfmMain", "&Stop"), QString::fromUtf8("&Стоп"));

    ServerSettings settings;
    TfmAccess access(settings);
    EXPECT_EQ(access.BitBtnCancel->text(), QString::fromUtf8("Отказ"));
    access.show();
    window_test::SavePicture(access, "access_dialog_bgr");
    TfmPorts ports(registry);
    ports.show();
    window_test::SavePicture(ports, "ports_dialog_bgr");
    TfmEcrSearch search;
    search.PortName = "COM1";
    search.show();
    EXPECT_EQ(search.windowTitle(), QString::fromUtf8("Търсене на касови апарати на COM1"));
    window_test::SavePicture(search, "register_search_bgr");
    TfmTestLine line;
    line.PortName = "COM1";
    line.show();
    EXPECT_EQ(line.lblInfo->text(), QString::fromUtf8("порт: COM1  скорост: 4800"));
    window_test::SavePicture(line, "line_test_bgr");
    TfmLanguageSelection dialog(windows.Languages());
    dialog.show();
    EXPECT_EQ(dialog.lblActiveLng->text(), "Bulgarian");
    window_test::SavePicture(dialog, "language_dialog_bgr");
    windows.StatusWindow().show();
    window_test::SavePicture(windows.StatusWindow(), "status_window_bgr");
  }
  // The module leaves with its set: the built-in texts again.
  EXPECT_EQ(QCoreApplication::translate("TfmMain", "&Stop"), "&Stop");
}

}  // namespace
}  // namespace ecr
