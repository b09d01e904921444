import QtQuick
// Debian packages the module without one of its type files.
import Qt5Compat.GraphicalEffects // qmllint disable import

// Loaded by IconTint only when shown.
ColorOverlay {
}
