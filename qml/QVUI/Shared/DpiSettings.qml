pragma Singleton
import QtQuick
import QtQuick.Window

QtObject {
    readonly property real dpi: Screen.pixelDensity * 25.4

    function scaling(x) {
        return dpi < 120 ? x : x * dpi / 160
    }
}
