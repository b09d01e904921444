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

    // Qt makes the modal overlay anew at every opening, so a terminal that
    // flaps a dialog had its scrim and blur built and torn down dozens of
    // times a second. They are built once; each opening lends them to the
    // bare item Qt makes, and they leave the window with it.
    readonly property Rectangle scrim: Rectangle {
        anchors.fill: parent
        visible: parent !== null
        color: Theme.colorScrim

        BackdropBlur {
            anchors.fill: parent
            z: -1
            source: _dialog.backgroundItem
            radius: DpiSettings.scaling(48)
        }
    }

    T.Overlay.modal: Item {
        id: _lent

        Component.onCompleted: _dialog.scrim.parent = _lent
    }
}
