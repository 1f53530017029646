#pragma once
// The single-line entry of a password: every character shown as "*", whatever the
// platform's style prefers. An entry for a password that a record field of n bytes keeps
// takes no more than n UTF-8 bytes: a keystroke or a paste that would pass them is
// refused, so that what the entry shows is what is kept and what is matched.
//
// Thread safety: main thread only.

#include <QString>

#include <cstddef>
#include <optional>

class QLineEdit;
class QWidget;

namespace ecr {

// A password entry named objectName, child of parent (not null), taking at most
// maxCharacters characters (the toolkit's own limit when not given) and, when given, at
// most maxBytes UTF-8 bytes.
QLineEdit* NewPasswordEdit(const QString& objectName, QWidget* parent, int maxCharacters = 32767,
                           std::optional<std::size_t> maxBytes = std::nullopt);

// From now on edit takes no more than maxBytes UTF-8 bytes; replaces a limit set before.
void LimitToUtf8Bytes(QLineEdit& edit, std::size_t maxBytes);

}  // namespace ecr
