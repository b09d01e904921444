#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcLimits)

// What one message from the terminal may make the screen hold. Each limit
// lies far above anything a real till sends; what lies beyond it is cut
// where the records are built, with one warning per message and limit.
namespace InputLimits {

constexpr int maximumReceiptLines = 10000;
constexpr int maximumRecipeChanges = 50; // per line; the rest counted apart, shown as one "+N" chip
constexpr int maximumTextLength = 500;   // characters of any text shown
constexpr int maximumPromoEntries = 200;
constexpr int maximumTimeWindows = 100; // per weekday of an entry

// The largest figures the screen shows as they are: amounts in hundredths
// (99 999 999,99, the widest a column holds), percentages (999 %) and
// quantities (six digits, never an exponent).
constexpr double maximumAmount = 9999999999.0;
constexpr double maximumPercent = 999.0;
constexpr double maximumQuantity = 999999.0;

// Brings `value` within -maximum..maximum, a value that is not a number to
// 0; true when it changed it.
bool clamp(double &value, double maximum);

// Cuts `text` to maximumTextLength UTF-16 units, never inside a surrogate
// pair; true when it was longer.
bool shorten(QString &text);

} // namespace InputLimits
