#include "netcontroller/nc_fields.h"

#include <stdexcept>

namespace ecr::nc {
namespace {

constexpr std::size_t kMaxShortString = 255;
constexpr char kSeparator = ';';

void CheckFieldNumber(std::size_t N) {
    if (N < 1 || N > kMaxShortString) throw std::out_of_range("field number outside 1..255");
}

// Start of field N and the position of its ";", or npos for the ";" when there are fewer
// than N of them.
struct FieldSpan {
    std::size_t start = 0;
    std::size_t separator = std::string_view::npos;
};

FieldSpan FindField(std::string_view S, std::size_t N) {
    FieldSpan span;
    for (std::size_t field = 1;; ++field) {
        std::size_t separator = S.find(kSeparator, span.start);
        if (separator == std::string_view::npos) return {span.start, std::string_view::npos};
        if (field == N) return {span.start, separator};
        span.start = separator + 1;
    }
}

}  // namespace

std::string GetField(std::string_view S, std::size_t N) {
    CheckFieldNumber(N);
    FieldSpan span = FindField(S, N);
    if (span.separator == std::string_view::npos) return {};
    return std::string(S.substr(span.start, span.separator - span.start));
}

std::string CutField(std::string& S, std::size_t N) {
    CheckFieldNumber(N);
    FieldSpan span = FindField(S, N);
    if (span.separator == std::string_view::npos) return {};
    std::string field = S.substr(span.start, span.separator - span.start);
    S.erase(span.start, span.separator - span.start + 1);
    return field;
}

void InsertField(std::string& S, std::string_view Value, std::size_t N) {
    CheckFieldNumber(N);
    std::string inserted = std::string(Value) + kSeparator;
    std::size_t field = 1;
    std::size_t position = std::string::npos;
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (field == N) {
            position = i;
            break;
        }
        if (S[i] == kSeparator) ++field;
    }
    if (position == std::string::npos) {
        S += inserted;
    } else {
        S.insert(position, inserted);
    }
    if (S.size() > kMaxShortString) S.resize(kMaxShortString);
}

}  // namespace ecr::nc
