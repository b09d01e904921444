import QtQuick
import QtQuick.Controls.Basic
import "../Shared"
import "../UIKit"

// Lower panel of the right-hand column: amount to pay, discount, bonuses spent.
Rectangle {
    id: _panel

    property real toPaymentAmount: 0
    property real discountAmount: 0
    property real discountPercentAmount: 0
    property real bonusExpense: 0

    radius: DpiSettings.scaling(12)
    color: Theme.colorBackgroundPrimary
    border.width: 1
    border.color: Theme.colorStrokeDark

    Row {
        id: _row
        objectName: "totalsRow"
        anchors.horizontalCenter: parent.horizontalCenter
        y: DpiSettings.scaling(29)
        width: _panel.width - DpiSettings.scaling(48)
        height: DpiSettings.scaling(46)
        spacing: DpiSettings.scaling(26.5)
        visible: _panel.toPaymentAmount > 0

        Column {
            width: _row.width * 0.40
            height: _row.height

            Label {
                width: parent.width
                font.pixelSize: DpiSettings.scaling(12)
                color: Theme.colorTextPrimary
                text: qsTr("К оплате")
            }

            Row {
                height: parent.height
                spacing: DpiSettings.scaling(6)

                Label {
                    objectName: "toPayLabel"
                    font.pixelSize: DpiSettings.scaling(24)
                    font.weight: Font.DemiBold
                    color: Theme.colorBrand
                    text: Utils.formatMoney(_panel.toPaymentAmount)
                }

                Label {
                    y: DpiSettings.scaling(12)
                    font.pixelSize: DpiSettings.scaling(14)
                    font.weight: Font.DemiBold
                    color: Theme.colorStrokeDark
                    text: "₽"
                }
            }
        }

        Column {
            objectName: "discountColumn"
            anchors.verticalCenter: parent.verticalCenter
            width: _row.width * 0.30
            height: DpiSettings.scaling(38)

            Label {
                width: parent.width
                font.pixelSize: DpiSettings.scaling(12)
                color: Theme.colorTextPrimary
                text: qsTr("Скидка")
            }

            Label {
                objectName: "discountLabel"
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.DemiBold
                color: Theme.colorTextPrimary
                // Shortest round-trip decimal, cut to five characters.
                text: String(_panel.discountPercentAmount * 100).substring(0, 5) + "% ("
                      + Utils.formatMoney(_panel.discountAmount) + ")"
            }
        }

        Column {
            objectName: "bonusColumn"
            anchors.verticalCenter: parent.verticalCenter
            width: _row.width * 0.30
            height: DpiSettings.scaling(38)
            visible: _panel.bonusExpense > 0

            Label {
                width: parent.width
                font.pixelSize: DpiSettings.scaling(12)
                color: Theme.colorTextPrimary
                text: qsTr("Бонусы")
            }

            Label {
                objectName: "bonusLabel"
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.DemiBold
                color: Theme.colorRed
                text: "-" + Utils.formatMoney(_panel.bonusExpense)
            }
        }
    }
}
