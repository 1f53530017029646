// The source of the Bulgarian language module: every text in it is translated and
// finished, keeps the placeholders, mnemonic and framing blanks of its English original,
// and every translatable text of the register server's windows is in it.
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace ecr {
namespace {

namespace fs = std::filesystem;

// The repository: the test run's source folder, else the one the tests were built from.
fs::path SourceRoot() {
  if (const char* root = std::getenv("ECR_TEST_SOURCE_DIR"); root != nullptr && *root != '\0') return root;
  return ECR_SOURCE_DIR;
}

fs::path BulgarianSource() { return SourceRoot() / "server_app" / "translations" / "harbendix_BGR.ts"; }

// Contexts whose texts belong to the toolkit (the standard buttons of the message boxes);
// the module carries them so that the boxes speak the module's language too.
const std::set<QString> kToolkitContexts = {"QPlatformTheme", "QGnomeTheme"};

struct TsMessage {
  QString context;
  QString source;
  QString translation;
  QString translationType;  // "unfinished", "vanished", "obsolete" or empty
};

using TextKey = std::pair<QString, QString>;  // context, source

// The text of the element the reader stands on; <byte value="xd"/> stands for a character.
QString ElementText(QXmlStreamReader& reader) {
  QString text;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isCharacters()) {
      text += reader.text();
    } else if (reader.isStartElement() && reader.name() == u"byte") {
      text += QChar(reader.attributes().value("value").mid(1).toUInt(nullptr, 16));
    } else if (reader.isEndElement() && reader.name() != u"byte") {
      break;
    }
  }
  return text;
}

std::vector<TsMessage> ReadTs(const fs::path& path, QString& error) {
  QFile file(QString::fromStdString(path.string()));
  if (!file.open(QIODevice::ReadOnly)) {
    error = "cannot open " + file.fileName();
    return {};
  }
  std::vector<TsMessage> messages;
  QXmlStreamReader reader(&file);
  QString context;
  while (!reader.atEnd()) {
    reader.readNext();
    if (!reader.isStartElement()) continue;
    if (reader.name() == u"name") {
      context = ElementText(reader);
    } else if (reader.name() == u"message") {
      messages.push_back({context, {}, {}, {}});
    } else if (reader.name() == u"source" && !messages.empty()) {
      messages.back().source = ElementText(reader);
    } else if (reader.name() == u"translation" && !messages.empty()) {
      messages.back().translationType = reader.attributes().value("type").toString();
      messages.back().translation = ElementText(reader);
    }
  }
  if (reader.hasError()) error = reader.errorString() + " at line " + QString::number(reader.lineNumber());
  return messages;
}

// Sorted placeholders (%1, %2...) of a text.
std::vector<std::string> Placeholders(const QString& text) {
  std::vector<std::string> found;
  static const QRegularExpression placeholder("%\\d+");
  for (const QRegularExpressionMatch& match : placeholder.globalMatch(text))
    found.push_back(match.captured().toStdString());
  std::sort(found.begin(), found.end());
  return found;
}

// Whether the text marks a mnemonic: an "&" that is not a doubled "&&".
bool HasMnemonic(const QString& text) { return QString(text).remove("&&").contains('&'); }

// The blanks that frame a text (group captions such as " Config " keep theirs).
QString LeadingBlanks(const QString& text) {
  static const QRegularExpression blanks("^\\s*");
  return blanks.match(text).captured();
}
QString TrailingBlanks(const QString& text) {
  static const QRegularExpression blanks("\\s*$");
  return blanks.match(text).captured();
}

TEST(BulgarianTranslationSource, EveryTextHasAFinishedTranslationThatFitsItsOriginal) {
  QString error;
  const std::vector<TsMessage> messages = ReadTs(BulgarianSource(), error);
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  ASSERT_FALSE(messages.empty());
  std::set<TextKey> seen;
  for (const TsMessage& message : messages) {
    SCOPED_TRACE((message.context + " / " + message.source).toStdString());
    EXPECT_FALSE(message.context.isEmpty());
    EXPECT_FALSE(message.source.isEmpty());
    EXPECT_TRUE(seen.insert({message.context, message.source}).second) << "the text is in the file twice";
    EXPECT_TRUE(message.translationType.isEmpty()) << message.translationType.toStdString();
    EXPECT_FALSE(message.translation.trimmed().isEmpty());
    EXPECT_EQ(Placeholders(message.translation), Placeholders(message.source));
    EXPECT_EQ(HasMnemonic(message.translation), HasMnemonic(message.source));
    EXPECT_EQ(message.translation.count('\r'), message.source.count('\r'));
    EXPECT_EQ(message.translation.count('\n'), message.source.count('\n'));
    EXPECT_EQ(LeadingBlanks(message.translation).toStdString(), LeadingBlanks(message.source).toStdString());
    EXPECT_EQ(TrailingBlanks(message.translation).toStdString(), TrailingBlanks(message.source).toStdString());
  }
}

// A C++ string literal at `at` (after blanks), with its escapes resolved; `at` moves past it.
std::optional<std::string> ReadLiteral(const std::string& code, std::size_t& at) {
  while (at < code.size() && std::isspace(static_cast<unsigned char>(code[at]))) ++at;
  if (at >= code.size() || code[at] != '"') return std::nullopt;
  std::string text;
  for (++at; at < code.size() && code[at] != '"'; ++at) {
    if (code[at] != '\\' || at + 1 >= code.size()) {
      text += code[at];
      continue;
    }
    switch (code[++at]) {
      case 'r': text += '\r'; break;
      case 'n': text += '\n'; break;
      case 't': text += '\t'; break;
      default: text += code[at]; break;
    }
  }
  ++at;
  return text;
}

// Every QCoreApplication::translate("context", "text") and QT_TRANSLATE_NOOP("context",
// "text") of a source file, adjacent literals joined as the compiler joins them.
std::vector<TextKey> TranslatableTexts(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string code = whole.str();
  std::vector<TextKey> texts;
  for (const std::string opening : {"translate(", "QT_TRANSLATE_NOOP("}) {
    for (std::size_t found = code.find(opening); found != std::string::npos; found = code.find(opening, found + 1)) {
      std::size_t at = found + opening.size();
      const std::optional<std::string> context = ReadLiteral(code, at);
      if (!context) continue;  // not a literal context: nothing a translation file could list
      while (at < code.size() && std::isspace(static_cast<unsigned char>(code[at]))) ++at;
      if (at >= code.size() || code[at] != ',') continue;
      ++at;
      std::string text;
      bool any = false;
      while (const std::optional<std::string> piece = ReadLiteral(code, at)) {
        text += *piece;
        any = true;
      }
      if (any) texts.push_back({QString::fromStdString(*context), QString::fromStdString(text)});
    }
  }
  return texts;
}

// The folders whose windows the register server shows.
std::vector<TextKey> TranslatableTextsOfTheServer(std::vector<std::string>& files) {
  std::vector<TextKey> texts;
  for (const char* folder : {"foundation/widgets", "server_app"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(SourceRoot() / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      const std::vector<TextKey> found = TranslatableTexts(entry.path());
      if (!found.empty()) files.push_back(entry.path().filename().string());
      texts.insert(texts.end(), found.begin(), found.end());
    }
  }
  return texts;
}

TEST(BulgarianTranslationSource, HoldsEveryTranslatableTextOfTheServersWindowsAndNoStaleOnes) {
  QString error;
  const std::vector<TsMessage> messages = ReadTs(BulgarianSource(), error);
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  std::set<TextKey> inModule;
  for (const TsMessage& message : messages) inModule.insert({message.context, message.source});

  std::vector<std::string> files;
  const std::vector<TextKey> inSources = TranslatableTextsOfTheServer(files);
  // The scanner must see the shared dialogs and the server's own windows alike.
  for (const char* file : {"password_dialog.cpp", "contact_panels.cpp", "language_dialog.cpp", "status_window.cpp"})
    EXPECT_NE(std::find(files.begin(), files.end(), file), files.end()) << file << " shows no translatable text";
  for (const TextKey& text : inSources)
    EXPECT_EQ(inModule.count(text), 1u) << "not in the module: " << text.first.toStdString() << " / "
                                        << text.second.toStdString();

  const std::set<TextKey> used(inSources.begin(), inSources.end());
  for (const TextKey& text : inModule) {
    if (kToolkitContexts.count(text.first) != 0) continue;
    EXPECT_EQ(used.count(text), 1u) << "no longer shown anywhere: " << text.first.toStdString() << " / "
                                    << text.second.toStdString();
  }
}

}  // namespace
}  // namespace ecr
