import QtQuick
import qv4App

Rectangle {
    id: _button

    property string size: "m"
    property string type: ""
    property color enabledColor: Theme.colorBackgroundBasic
    property color pressedColor: Theme.colorBackgroundMain
    property color disabledColor: Theme.colorBackgroundBasic
    property real imageWidth: 0
    property real imageHeight: 0
    property bool coloredImage: false
    property color colorImage: Theme.colorBrand
    required property string source

    signal clicked(var mouse)

    readonly property bool pressedInside: _mouseArea.containsPress

    width: DpiSettings.scaling(48)
    height: DpiSettings.scaling(48)
    radius: DpiSettings.scaling(8)
    color: !enabled ? disabledColor : (pressedInside ? pressedColor : enabledColor)

    Image {
        id: _icon
        objectName: "icon"
        anchors.centerIn: parent
        width: _button.imageWidth
        height: _button.imageHeight
        // Read once the button shows: a hidden one (the waiting dialog's close
        // button) needs no decoder at start-up.
        source: _button.visible ? _button.source : ""
        // Rasterise vector icons at the size they are shown.
        sourceSize.width: DpiSettings.decodedPixels(Math.max(1, width))
        sourceSize.height: DpiSettings.decodedPixels(Math.max(1, height))
        mipmap: true
        antialiasing: true
        autoTransform: true
    }

    IconTint {
        objectName: "pressedOverlay"
        anchors.fill: _icon
        source: _icon
        color: _button.colorImage
        visible: _button.coloredImage && _button.pressedInside
    }

    // The icons are drawn light for the dark set; repaint them for the light one.
    IconTint {
        objectName: "lightThemeOverlay"
        anchors.fill: _icon
        source: _icon
        color: Theme.colorIconPrimary
        visible: !Theme.isDark
    }

    MouseArea {
        id: _mouseArea
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: mouse => _button.clicked(mouse)
    }

    StateGroup {
        id: _sizeStates
        state: _button.size
        states: [
            State {
                name: "xl"
                PropertyChanges {
                    target: _button
                    width: DpiSettings.scaling(64)
                    height: DpiSettings.scaling(64)
                    imageWidth: DpiSettings.scaling(24)
                    imageHeight: DpiSettings.scaling(24)
                }
            },
            State {
                name: "l"
                PropertyChanges {
                    target: _button
                    width: DpiSettings.scaling(56)
                    height: DpiSettings.scaling(56)
                    imageWidth: DpiSettings.scaling(24)
                    imageHeight: DpiSettings.scaling(24)
                }
            },
            State {
                name: "m"
                PropertyChanges {
                    target: _button
                    width: DpiSettings.scaling(48)
                    height: DpiSettings.scaling(48)
                }
            },
            State {
                name: "s"
                PropertyChanges {
                    target: _button
                    width: DpiSettings.scaling(40)
                    height: DpiSettings.scaling(40)
                    imageWidth: DpiSettings.scaling(20)
                    imageHeight: DpiSettings.scaling(20)
                }
            },
            State {
                name: "xs"
                PropertyChanges {
                    target: _button
                    width: DpiSettings.scaling(32)
                    height: DpiSettings.scaling(32)
                    imageWidth: DpiSettings.scaling(20)
                    imageHeight: DpiSettings.scaling(20)
                }
            },
            State {
                name: "xxs"
                PropertyChanges {
                    target: _button
                    width: DpiSettings.scaling(20)
                    height: DpiSettings.scaling(20)
                    imageWidth: DpiSettings.scaling(20)
                    imageHeight: DpiSettings.scaling(20)
                }
            }
        ]
    }

    StateGroup {
        id: _typeStates
        state: _button.type
        states: [
            State {
                name: "primary"
                PropertyChanges {
                    target: _button
                    enabledColor: Theme.colorBackgroundPrimary
                    pressedColor: Theme.colorBackgroundSecondary
                    disabledColor: Theme.colorBackgroundAdditive
                }
            },
            State {
                name: "primary-blue"
                PropertyChanges {
                    target: _button
                    enabledColor: Theme.colorBrand
                    pressedColor: Theme.colorBrandDark
                    disabledColor: Theme.colorBackgroundAdditive
                }
            },
            State {
                name: "clear"
                PropertyChanges {
                    target: _button
                    enabledColor: "transparent"
                    pressedColor: "transparent"
                    disabledColor: "transparent"
                }
            },
            State {
                name: "stroke-blue"
                PropertyChanges {
                    target: _button
                    enabledColor: "transparent"
                    pressedColor: "transparent"
                    disabledColor: "transparent"
                    coloredImage: true
                    colorImage: Theme.colorBrand
                }
            }
        ]
    }
}
