pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import qv4App

// Covers the display while no terminal is connected and lists the addresses
// the terminal can be pointed at. The customer cannot close it.
ModalDialog {
    id: _dialog

    property var appIp: []
    // Whether terminals can reach the display at all; if not, the port and
    // whether another program holds it.
    property bool listening: true
    property bool portBusy: false
    property bool addressMissing: false
    property int port: 30058
    // Addresses listed; any further ones are counted in one line.
    readonly property int shownAddresses: 6
    readonly property var _addresses: Array.isArray(appIp) ? appIp : []

    // The size of the card, which fills the dialog.
    width: DpiSettings.scaling(384)
    height: contentItem.implicitHeight
    // Made with the dialog, not deferred: the ids inside are reached from outside it.
    contentItem: Rectangle { // qmllint disable deferred-property-id
        objectName: "waitingCard"
        implicitWidth: DpiSettings.scaling(384)
        // Grows with what it lists, never below its designed height.
        implicitHeight: Math.max(DpiSettings.scaling(252), _column.y + _column.height + DpiSettings.scaling(38))
        radius: DpiSettings.scaling(12)
        color: Theme.colorBackgroundPrimary

        ImageButton {
            objectName: "waitingCloseButton"
            anchors.top: parent.top
            anchors.right: parent.right
            anchors.topMargin: DpiSettings.scaling(12)
            anchors.rightMargin: DpiSettings.scaling(12)
            size: "xs"
            type: "clear"
            source: "qrc:/icons/close.svg"
            visible: false
            onClicked: _dialog.close()
        }

        Column {
            id: _column
            x: DpiSettings.scaling(24)
            y: DpiSettings.scaling(38)
            width: parent.width - DpiSettings.scaling(48)
            spacing: DpiSettings.scaling(12)

            QVWaiter {
                objectName: "waitingSpinner"
                anchors.horizontalCenter: parent.horizontalCenter
                // Whole pixels at any scale: a fractional size has every frame
                // cleared with soft edges and stretched onto the screen.
                width: Math.round(DpiSettings.scaling(60))
                height: width
            }

            Label {
                objectName: "waitingTitle"
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: DpiSettings.scaling(16)
                color: Theme.colorTextSecondary
                text: qsTr("Ожидание подключения")
            }

            Column {
                objectName: "waitingAddresses"
                width: parent.width
                spacing: DpiSettings.scaling(6)

                Label {
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: DpiSettings.scaling(12)
                    color: Theme.colorTextSecondary
                    text: qsTr("Доступные ip для подключения:")
                }

                Repeater {
                    model: _dialog._addresses.slice(0, _dialog.shownAddresses)

                    Label {
                        required property var modelData
                        objectName: "waitingAddress"
                        width: parent.width
                        horizontalAlignment: Text.AlignHCenter
                        elide: Text.ElideRight
                        font.pixelSize: DpiSettings.scaling(12)
                        color: Theme.colorTextSecondary
                        text: modelData && modelData.address !== undefined ? String(modelData.address) : ""
                    }
                }

                Label {
                    objectName: "waitingMoreAddresses"
                    width: parent.width
                    visible: _dialog._addresses.length > _dialog.shownAddresses
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: DpiSettings.scaling(12)
                    color: Theme.colorTextSecondary
                    text: qsTr("и ещё %1").arg(_dialog._addresses.length - _dialog.shownAddresses)
                }

                // The installer points the till at ws://ADDRESS:PORT/.
                Label {
                    objectName: "waitingPort"
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: DpiSettings.scaling(12)
                    color: Theme.colorTextSecondary
                    text: qsTr("порт %1").arg(_dialog.port)
                }
            }

            Label {
                objectName: "waitingPortProblem"
                width: parent.width
                visible: !_dialog.listening
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                font.pixelSize: DpiSettings.scaling(12)
                color: Theme.colorRedNeutral
                text: _dialog.portBusy ? qsTr("Порт %1 занят").arg(_dialog.port)
                      : _dialog.addressMissing ? qsTr("Адрес ещё не появился на этом компьютере, ожидание")
                      : qsTr("Порт %1 недоступен").arg(_dialog.port)
            }
        }
    }
}
