import QtQuick
import QtQuick.Window

// Shown instead of Main when the display cannot use its settings: plain, so
// that it shows whatever else is wrong.
Window {
    id: _screen

    required property string message

    x: Screen.virtualX
    y: Screen.virtualY
    width: Screen.width > 0 ? Screen.width : 1280
    height: Screen.height > 0 ? Screen.height : 776
    visible: true
    visibility: Window.FullScreen
    title: "QUORVEX ORDER SCREEN V4"
    color: "#1c1c1c"

    Text {
        objectName: "serviceMessage"
        anchors.fill: parent
        anchors.margins: Math.round(_screen.width / 20)
        text: _screen.message
        color: "#ffffff"
        font.pixelSize: Math.max(16, Math.round(_screen.height / 32))
        lineHeight: 1.3
        wrapMode: Text.Wrap
        verticalAlignment: Text.AlignVCenter
    }
}
