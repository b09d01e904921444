import QtQuick
import QtQuick.Controls.Basic
import qv4App

// How a payment ended, in the payment dialogs' card: paid, or not.
ModalDialog {
    id: _dialog

    property string outcome: "success" // or "declined"
    readonly property bool paid: outcome === "success"

    width: DpiSettings.scaling(428)
    height: DpiSettings.scaling(312)

    contentItem: Item {
        implicitWidth: _dialog.width
        implicitHeight: _dialog.height

        Rectangle {
            anchors.fill: parent
            radius: DpiSettings.scaling(12)
            color: Theme.colorBackgroundPrimary
        }

        // A tick or a cross of two rounded strokes in a coloured disc: the
        // tick's strokes meet at (42, 62), the cross's at the centre.
        Rectangle {
            objectName: "outcomeMark"
            anchors.horizontalCenter: parent.horizontalCenter
            y: DpiSettings.scaling(52)
            width: DpiSettings.scaling(96)
            height: width
            radius: width / 2
            color: _dialog.paid ? Theme.colorGreen : Theme.colorRed

            Rectangle {
                x: DpiSettings.scaling(_dialog.paid ? 18 : 24)
                y: DpiSettings.scaling(_dialog.paid ? 58.5 : 44.5)
                width: DpiSettings.scaling(_dialog.paid ? 24 : 48)
                height: DpiSettings.scaling(7)
                radius: height / 2
                color: Theme.colorTextButton
                transformOrigin: _dialog.paid ? Item.Right : Item.Center
                rotation: 45
            }
            Rectangle {
                x: DpiSettings.scaling(_dialog.paid ? 42 : 24)
                y: DpiSettings.scaling(_dialog.paid ? 58.5 : 44.5)
                width: DpiSettings.scaling(_dialog.paid ? 44 : 48)
                height: DpiSettings.scaling(7)
                radius: height / 2
                color: Theme.colorTextButton
                transformOrigin: _dialog.paid ? Item.Left : Item.Center
                rotation: -45
            }
        }

        Label {
            objectName: "outcomeTitle"
            anchors.horizontalCenter: parent.horizontalCenter
            y: DpiSettings.scaling(176)
            font.pixelSize: DpiSettings.scaling(24)
            font.weight: Font.DemiBold
            color: Theme.colorTextPrimary
            text: _dialog.paid ? qsTr("Оплата прошла") : qsTr("Оплата не прошла")
        }

        Label {
            objectName: "outcomeHint"
            anchors.horizontalCenter: parent.horizontalCenter
            y: DpiSettings.scaling(224)
            width: DpiSettings.scaling(300)
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: DpiSettings.scaling(16)
            font.weight: Font.Normal
            color: Theme.colorTextSecondary
            text: _dialog.paid ? qsTr("Спасибо за покупку!")
                               : qsTr("Попробуйте ещё раз или выберите другой способ оплаты")
        }
    }
}
