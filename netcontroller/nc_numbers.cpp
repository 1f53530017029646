#include "netcontroller/nc_numbers.h"

#include "platform/locale_separators.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <optional>

namespace ecr::nc {
namespace {

constexpr std::size_t kMaxShortString = 255;
// The currency type holds signed 64-bit values with four decimals.
constexpr long double kCurrencyLimit = 922337203685477.5807L;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Strictly: [blanks] [sign] digits [. digits] [e [sign] digits] [blanks], one digit at least
// in the mantissa.
std::optional<long double> ReadCurrency(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t mantissaDigits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++mantissaDigits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++mantissaDigits;
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && IsDigit(text[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;

    // strtold follows the C locale of the process, which keeps "." unless a program changes
    // LC_NUMERIC; read in a C locale of our own to be independent of that.
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(nullptr));
    std::string copy(text);
    locale_t previous = uselocale(cLocale);
    long double value = std::strtold(copy.c_str(), nullptr);
    uselocale(previous);
    if (!std::isfinite(value) || std::fabs(value) > kCurrencyLimit) return std::nullopt;
    return std::nearbyint(value * 10000.0L) / 10000.0L;
}

std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        bool match = i + from.size() <= text.size();
        for (std::size_t k = 0; match && k < from.size(); ++k) {
            match = lower(text[i + k]) == lower(from[k]);
        }
        if (match) {
            result += to;
            i += from.size();
        } else {
            result += text[i++];
        }
    }
    return result;
}

}  // namespace

long double StrToAmountDef(std::string_view S, long double Default) {
    if (auto value = ReadCurrency(S)) return *value;
    return StrToAmountDef(S, Default, LocaleDecimalSeparator());
}

long double StrToAmountDef(std::string_view S, long double Default,
                           std::string_view systemDecimalSeparator) {
    if (auto value = ReadCurrency(S)) return *value;
    std::string_view separator = systemDecimalSeparator.substr(0, 4);
    if (!separator.empty()) {
        if (auto value = ReadCurrency(ReplaceAllNoCase(S, separator, "."))) return *value;
    }
    return Default;
}

std::string InsertDecimalPoint(std::string_view S, std::size_t N) {
    std::string text(S.substr(0, kMaxShortString));
    if (text.find('.') != std::string::npos) return text;
    std::size_t position = text.size() > N ? text.size() - N : 0;
    text.insert(position, 1, '.');
    if (text.size() > kMaxShortString) text.resize(kMaxShortString);
    return text;
}

std::string RemoveDecimalPoint(std::string_view S) {
    std::string text(S);
    std::size_t point = text.find('.');
    if (point != std::string::npos) text.erase(point, 1);
    return text;
}

}  // namespace ecr::nc
