#include "text_client/client_settings.h"

#include <algorithm>
#include <cctype>

#include "foundation/utf8_bytes.h"

namespace ecr {
namespace {

constexpr std::size_t kMaxShortString = 255;

std::string Cut255(std::string text) {
    if (text.size() > kMaxShortString) text.resize(kMaxShortString);
    return text;
}

std::string ReadShortString(const std::array<std::uint8_t, 256>& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()) + 1, bytes[0]);
}

void WriteShortString(std::array<std::uint8_t, 256>& bytes, std::string_view password) {
    const std::string text = CutUtf8ToBytes(password, kMaxPasswordBytes);
    bytes.fill(0);
    bytes[0] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + 1);
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string FolderOrDefault(std::string folder, const std::string& fallback) {
    folder = Cut255(std::move(folder));
    return folder.empty() ? fallback : WithFinalSlash(folder);
}

}  // namespace

std::string WithFinalSlash(std::string_view path) {
    std::string text(path);
    if (!text.empty() && text.back() != '/') text += '/';
    return text;
}

ClientSettings DefaultClientSettings(std::string_view programFolder) {
    ClientSettings settings;
    settings.InputPath = WithFinalSlash(programFolder);
    settings.OutputPath = settings.InputPath;
    return settings;
}

ClientSettings LoadSettings(const IniFile& ini, std::string_view programFolder) {
    ClientSettings settings = DefaultClientSettings(programFolder);
    settings.Address = Cut255(ini.readString("Server", "Address", settings.Address));

    std::int64_t port = ini.readInteger("Server", "Port", ClientSettings::kDefaultPort);
    settings.Port = (port >= 0 && port <= 65535) ? static_cast<int>(port)
                                                 : ClientSettings::kDefaultPort;

    std::int64_t timeOut = ini.readInteger("Server", "TimeOut", ClientSettings::kDefaultTimeOut);
    settings.TimeOut = (timeOut >= ClientSettings::kMinTimeOut &&
                        timeOut <= ClientSettings::kMaxTimeOut)
                           ? static_cast<int>(timeOut)
                           : ClientSettings::kDefaultTimeOut;

    settings.InputPath =
        FolderOrDefault(ini.readString("Directories", "InputPath", settings.InputPath),
                        settings.InputPath);
    settings.InputExt = ini.readString("Directories", "InputExt", settings.InputExt);
    settings.OutputPath =
        FolderOrDefault(ini.readString("Directories", "OutputPath", settings.OutputPath),
                        settings.OutputPath);
    settings.OutputExt = ini.readString("Directories", "OutputExt", settings.OutputExt);
    settings.Action = ini.readString("Output", "Action", settings.Action);
    settings.SELL_WITH_EXT_PLU = ini.readBool("Output", "SELL_WITH_EXT_PLU", false);
    settings.Encoding = Upper(ini.readString("Encoding", "Encoding", "WINDOWS")) == "DOS"
                            ? TextEncoding::Dos
                            : TextEncoding::Windows;
    return settings;
}

bool SaveSettings(IniFile& ini, const ClientSettings& settings) {
    return ini.writeValues({
        {"Server", "Address", settings.Address},
        {"Server", "Port", std::to_string(settings.Port)},
        {"Server", "TimeOut", std::to_string(settings.TimeOut)},
        {"Directories", "InputPath", settings.InputPath},
        {"Directories", "InputExt", settings.InputExt},
        {"Directories", "OutputPath", settings.OutputPath},
        {"Directories", "OutputExt", settings.OutputExt},
        {"Output", "Action", settings.Action},
        {"Output", "SELL_WITH_EXT_PLU", settings.SELL_WITH_EXT_PLU ? "1" : "0"},
        {"Encoding", "Encoding", settings.Encoding == TextEncoding::Dos ? "DOS" : "WINDOWS"},
    });
}

std::string ClientPasswords::SystemPassword() const { return ReadShortString(SystemPasswordBytes); }
std::string ClientPasswords::LoginPassword() const { return ReadShortString(LoginPasswordBytes); }
void ClientPasswords::SetSystemPassword(std::string_view password) {
    WriteShortString(SystemPasswordBytes, password);
}
void ClientPasswords::SetLoginPassword(std::string_view password) {
    WriteShortString(LoginPasswordBytes, password);
}

}  // namespace ecr
