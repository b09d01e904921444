#pragma once

#include <QString>

// Whether a payment text makes a QR code that a phone reads from the screen.
// Shared by the display's message check and qv4-terminal-sim --check.
namespace QrCodeFit {

// The side of the largest code the payment dialog draws on the smallest
// screen it is made for (800x480), in pixels.
constexpr int smallestScreenRoom = 183;

// Modules a side of the code of `text` (level L, UTF-8); 0 when it does not
// fit in a QR code at all.
int modules(const QString &text);

// What is wrong with `text` as a payment code, or an empty string.
QString problem(const QString &text);

} // namespace QrCodeFit
