import QtQuick
import Qt5Compat.GraphicalEffects

// Loaded by BackdropBlur only when shown, so that the effects module stays
// out of the start-up.
FastBlur {
}
