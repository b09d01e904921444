pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import qv4App

// The shell of the display's dialogs: centred over the window, modal, closed
// only by the display, with the window behind it darkened and blurred.
Dialog {
    id: _dialog

    // What shows blurred behind the dialog: the window's content.
    required property Item backgroundItem

    parent: T.Overlay.overlay
    x: (parent.width - width) / 2
    y: (parent.height - height) / 2
    padding: 0
    modal: true
    closePolicy: Popup.NoAutoClose

    background: Item {}

    T.Overlay.modal: Rectangle {
        color: Theme.colorScrim

        BackdropBlur {
            anchors.fill: parent
            z: -1
            source: _dialog.backgroundItem
            radius: DpiSettings.scaling(48)
        }
    }
}
