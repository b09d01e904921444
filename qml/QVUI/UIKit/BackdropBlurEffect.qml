import QtQuick
// Debian packages the module without one of its type files.
import Qt5Compat.GraphicalEffects // qmllint disable import

// Loaded by BackdropBlur only when shown, so that the effects module stays
// out of the start-up. Cached: redrawn when the content behind changes, not
// with every frame of what moves in front of it.
FastBlur {
    cached: true
}
