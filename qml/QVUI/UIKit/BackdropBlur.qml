import QtQuick
import qv4App

// The blurred copy of the window behind a modal dialog. Where the scene graph
// draws shader effects, a fast blur, loaded only while shown (a hidden blur
// would keep its layers' textures for nothing) and cached, so that it is
// drawn again only when the content behind changes, not at every frame of
// the dialog's spinner. The software scene graph draws no shader effects:
// there a still picture, blurred off the GUI thread, takes its place.
Item {
    id: _backdrop

    property Item source
    property real radius: 0
    // Whether shader effects are drawn here; a test may force it.
    property bool effectsDrawn: GraphicsInfo.api !== GraphicsInfo.Software

    // The content item is transparent wherever nothing is drawn; under the
    // blur this base keeps its sharp copy from showing through.
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

    BlurredBackdrop {
        objectName: "blurPicture"
        anchors.fill: parent
        visible: !_backdrop.effectsDrawn
        source: visible ? _backdrop.source : null
        radius: _backdrop.radius
        baseColor: Theme.colorBackgroundSecondary
    }
}
