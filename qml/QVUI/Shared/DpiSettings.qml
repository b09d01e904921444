pragma Singleton
import QtQuick
import QtQuick.Window

QtObject {
    // Physical density of the primary screen, in dots per inch.
    readonly property real dpi: Screen.pixelDensity * 25.4

    // Screen pixels to a pixel of the scene (QT_SCALE_FACTOR and the like).
    readonly property real pixelRatio: Screen.devicePixelRatio > 0 ? Screen.devicePixelRatio : 1

    // The size to decode a picture at that is shown at width × height: the
    // screen's own pixels, never a smaller copy drawn larger.
    function decodeSize(width, height) {
        return Qt.size(decodedPixels(width), decodedPixels(height))
    }

    // One side of it, for an image's sourceSize (a whole-pixel size).
    function decodedPixels(length) {
        return Math.ceil(length * pixelRatio)
    }

    // A length or position in the scene rounded to whole screen pixels.
    function snapped(length) {
        return Math.round(length * pixelRatio) / pixelRatio
    }

    // Set by the window for --scale fit or a number: design pixels times
    // this, whatever the density. 0 keeps the density rule.
    property real factor: 0

    // Design pixels to screen pixels: unchanged below 120 dpi, proportional
    // to a 160-dpi reference from there on (so 120..160 dpi shrinks).
    function scaling(x) {
        return factor > 0 ? x * factor : scalingAt(x, dpi)
    }

    // The same rule for a given density; lets the rule be checked at any dpi.
    function scalingAt(x, atDpi) {
        return atDpi < 120 ? x : x * atDpi / 160
    }
}
