#pragma once

#include <QString>

// What a display started at login shows instead of the order screen when it
// cannot use its settings: the reason and how to check them, full screen,
// until it is stopped. It opens no port, and the log gets the same lines.
namespace ServiceScreen {

// The lines shown and logged for the settings' complaint.
QString text(const QString &error);

// Runs the screen; returns when the window is closed.
int run(int &argc, char **argv, const QString &error);

} // namespace ServiceScreen
