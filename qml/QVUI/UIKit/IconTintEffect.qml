import QtQuick
import Qt5Compat.GraphicalEffects

// Loaded by IconTint only when shown.
ColorOverlay {
}
