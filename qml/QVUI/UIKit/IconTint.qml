import QtQuick

// A single-colour copy of an icon, drawn over it. Like BackdropBlur, the
// effect is loaded only while shown and where shader effects are drawn.
Item {
    id: _tint

    property Item source
    property color color
    // Whether shader effects are drawn here; a test may force it.
    property bool effectsDrawn: GraphicsInfo.api !== GraphicsInfo.Software

    Loader {
        objectName: "tintEffect"
        anchors.fill: parent
        active: _tint.visible && _tint.effectsDrawn
        source: Qt.resolvedUrl("IconTintEffect.qml")
        onLoaded: {
            item.source = Qt.binding(() => _tint.source)
            item.color = Qt.binding(() => _tint.color)
        }
    }
}
