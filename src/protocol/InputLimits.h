#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcLimits)

// What one message from the terminal may make the screen hold. Each limit
// lies far above anything a real till sends; what lies beyond it is cut
// where the records are built, with one warning per message and limit.
namespace InputLimits {

constexpr int maximumReceiptLines = 10000;
constexpr int maximumRecipeChanges = 50; // per line; the rest shows as one "+N" chip
constexpr int maximumTextLength = 500;   // characters of any text shown
constexpr int maximumPromoEntries = 200;
constexpr int maximumTimeWindows = 100; // per weekday of an entry

// Cuts `text` to maximumTextLength UTF-16 units, never inside a surrogate
// pair; true when it was longer.
bool shorten(QString &text);

} // namespace InputLimits
