import QtQuick
import QtQuick.Controls.Basic
import qv4App

// Asks the customer to pay the amount on the card terminal.
ModalDialog {
    id: _dialog

    property int amount: 12000
    property string currency: Utils.currency

    width: DpiSettings.scaling(428)
    height: DpiSettings.scaling(312)

    // The dialog shows nothing before its first payment: its content is
    // built when first shown and kept from then on.
    onAboutToShow: _content.active = true

    // Made with the dialog, not deferred: the ids inside are reached from outside it.
    contentItem: Item { // qmllint disable deferred-property-id
        implicitWidth: _dialog.width
        implicitHeight: _dialog.height

        Loader {
            id: _content
            objectName: "dialogContent"
            anchors.fill: parent
            active: false

            // Qt 6.4 cannot load a bound component (ComponentBehavior: Bound), so
            // the content reaches the dialog by id, which the linter cannot follow.
            // qmllint disable unqualified
            sourceComponent: Item {
                Rectangle {
                    anchors.fill: parent
                    radius: DpiSettings.scaling(12)
                    color: Theme.colorBackgroundPrimary
                }

                Label {
                    objectName: "paymentTitle"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(24)
                    font.pixelSize: DpiSettings.scaling(18)
                    font.weight: Font.DemiBold
                    color: Theme.colorTextPrimary
                    text: qsTr("Сумма к оплате")
                }

                Row {
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(60)
                    height: DpiSettings.scaling(28)
                    spacing: DpiSettings.scaling(4)

                    Label {
                        objectName: "paymentAmount"
                        height: parent.height
                        verticalAlignment: Text.AlignVCenter
                        font.pixelSize: DpiSettings.scaling(24)
                        font.weight: Font.DemiBold
                        color: Theme.colorTextPrimary
                        text: Utils.formatMoney(_dialog.amount)
                    }

                    Label {
                        objectName: "paymentCurrency"
                        height: parent.height
                        verticalAlignment: Text.AlignVCenter
                        font.pixelSize: DpiSettings.scaling(24)
                        font.weight: Font.DemiBold
                        color: Theme.colorTextDisable
                        text: _dialog.currency
                    }
                }

                Image {
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(108)
                    width: DpiSettings.scaling(120)
                    height: DpiSettings.scaling(120)
                    sourceSize.width: DpiSettings.decodedPixels(width)
                    sourceSize.height: DpiSettings.decodedPixels(height)
                    source: "qrc:/icons/terminal.svg"
                }

                Label {
                    objectName: "paymentHint"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(240)
                    width: DpiSettings.scaling(228)
                    wrapMode: Text.WordWrap
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: DpiSettings.scaling(16)
                    font.weight: Font.Normal
                    color: Theme.colorTextSecondary
                    text: qsTr("Воспользуйтесь терминалом для оплаты")
                }
            }
            // qmllint enable unqualified
        }
    }
}
