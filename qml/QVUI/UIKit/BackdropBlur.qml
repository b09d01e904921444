import QtQuick

// The blurred copy of the window behind a modal dialog. The effect, and the
// module it comes from, exist only while the backdrop is shown and only where
// the scene graph draws shader effects: the software one draws none, and a
// hidden blur would keep its layers' textures for nothing.
Item {
    id: _backdrop

    property Item source
    property real radius: 0
    // Whether shader effects are drawn here; a test may force it.
    property bool effectsDrawn: GraphicsInfo.api !== GraphicsInfo.Software

    // The content item is transparent wherever nothing is drawn; under the
    // blur this base keeps its sharp copy from showing through. Without the
    // blur there is no copy: the content itself shows, darkened by the dialog.
    Rectangle {
        objectName: "blurBase"
        anchors.fill: parent
        color: Theme.colorBackgroundSecondary
        visible: _effect.active
    }

    Loader {
        id: _effect
        objectName: "blurEffect"
        anchors.fill: parent
        active: _backdrop.visible && _backdrop.effectsDrawn
        source: Qt.resolvedUrl("BackdropBlurEffect.qml")
        onLoaded: {
            item.source = Qt.binding(() => _backdrop.source)
            item.radius = Qt.binding(() => _backdrop.radius)
        }
    }
}
