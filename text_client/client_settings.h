#pragma once

// The text-file client's settings: the INI file beside the program (server, folders, output
// action, encoding) and the two passwords kept in the scrambled settings store.
//
// Plain values; the main window owns one ClientSettings and one ClientPasswords for the
// program's life and uses them on the main thread only.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ini_file.h"

namespace ecr {

enum class TextEncoding { Dos, Windows };

struct ClientSettings {
    static constexpr int kDefaultPort = 4999;
    static constexpr int kDefaultTimeOut = 10;
    static constexpr int kMinTimeOut = 1;
    static constexpr int kMaxTimeOut = 10000;

    std::string Address = "127.0.0.1";
    int Port = kDefaultPort;
    int TimeOut = kDefaultTimeOut;  // seconds without a reply before the not-ready dialog
    std::string InputPath;          // ends with "/"
    std::string InputExt = "INP";
    std::string OutputPath;         // ends with "/"
    std::string OutputExt = "OUT";
    std::string Action = "REPLACE";  // compared byte for byte: REPLACE, APPEND, UNIQUE
    bool SELL_WITH_EXT_PLU = false;
    TextEncoding Encoding = TextEncoding::Windows;
};

// The defaults, with both folders set to `programFolder` (given a final "/" when it lacks
// one).
ClientSettings DefaultClientSettings(std::string_view programFolder);

// Reads every key; a missing file or key gives the default (a byte order mark at the start
// of the file hides nothing). Port: not a number or outside 0..65535 gives 4999. TimeOut: not a number or outside 1..10000 gives 10. A folder read
// without its final "/" gets one; an empty folder gives the default folder.
ClientSettings LoadSettings(const IniFile& ini, std::string_view programFolder);

// Writes every key in the order of the sections Server, Directories, Output, Encoding, in
// one replacement of the file: a kill or a full disk leaves the old file or the new one.
// False when the file could not be written.
bool SaveSettings(IniFile& ini, const ClientSettings& settings);

// `path` with a final "/" (unchanged when it has one; "" stays "").
std::string WithFinalSlash(std::string_view path);

// The most UTF-8 bytes a password keeps: what a short string holds.
inline constexpr std::size_t kMaxPasswordBytes = 255;

// The record of the settings store: two short strings of 256 bytes each (length byte, then
// up to 255 bytes), both empty until set.
struct ClientPasswords {
    std::array<std::uint8_t, 256> SystemPasswordBytes{};  // guards Stop, Configure, Exit
    std::array<std::uint8_t, 256> LoginPasswordBytes{};   // sent with every SET opening

    std::string SystemPassword() const;
    std::string LoginPassword() const;
    // Each cut to whole UTF-8 characters within 255 bytes.
    void SetSystemPassword(std::string_view password);
    void SetLoginPassword(std::string_view password);
};
static_assert(sizeof(ClientPasswords) == 512, "the stored record has 512 bytes");

}  // namespace ecr
