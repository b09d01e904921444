import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import "../Shared"
import "../UIKit"

// SBP payment: the QR code to scan and what the payment comes to.
Dialog {
    id: _dialog

    property Item backgroundItem: _app.contentItem
    property int amount: 0
    property int discount: 0
    property int bonus: 0
    property string currency: "₽"
    property string qrCodeTable: ""

    parent: T.Overlay.overlay
    x: (parent.width - width) / 2
    y: (parent.height - height) / 2
    width: DpiSettings.scaling(428)
    height: DpiSettings.scaling(426)
    padding: 0
    modal: true
    dim: true
    closePolicy: Popup.NoAutoClose

    background: Item {}

    T.Overlay.modal: Rectangle {
        color: "#AA000000"

        BackdropBlur {
            anchors.fill: parent
            z: -1
            source: _dialog.backgroundItem
            radius: DpiSettings.scaling(48)
        }
    }

    component SummaryRow: Item {
        id: _summaryRow
        property string caption
        property string value
        property color valueColor
        property string unit

        width: parent.width
        height: DpiSettings.scaling(40)

        Label {
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            font.pixelSize: DpiSettings.scaling(14)
            font.weight: Font.Normal
            color: Theme.colorTextPrimary
            text: _summaryRow.caption
        }

        Row {
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            height: DpiSettings.scaling(18)
            spacing: DpiSettings.scaling(4)

            Label {
                objectName: "summaryValue"
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: _summaryRow.valueColor
                text: _summaryRow.value
            }

            Label {
                objectName: "summaryUnit"
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: Theme.colorTextDisable
                text: _summaryRow.unit
            }
        }
    }

    component SummaryLine: Rectangle {
        width: parent.width
        height: 1
        color: Theme.colorStrokeDark
    }

    // The dialog shows nothing before its first payment: its content is
    // built when first shown and kept from then on.
    onAboutToShow: _content.active = true

    contentItem: Item {
        implicitWidth: _dialog.width
        implicitHeight: _dialog.height

        Loader {
            id: _content
            objectName: "dialogContent"
            anchors.fill: parent
            active: false

            sourceComponent: Item {
                Rectangle {
                    anchors.fill: parent
                    radius: DpiSettings.scaling(12)
                    color: Theme.colorBackgroundPrimary
                }

                Image {
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(24)
                    width: DpiSettings.scaling(100)
                    height: DpiSettings.scaling(54)
                    sourceSize: Qt.size(Math.ceil(width), Math.ceil(height))
                    source: "qrc:/icons/sbp.svg"
                }

                Rectangle {
                    objectName: "qrFrame"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(94)
                    width: DpiSettings.scaling(166)
                    height: DpiSettings.scaling(166)
                    radius: DpiSettings.scaling(8)
                    color: Theme.colorTextPrimary
                    visible: _dialog.qrCodeTable !== ""

                    Image {
                        objectName: "qrImage"
                        anchors.centerIn: parent
                        width: DpiSettings.scaling(145)
                        height: DpiSettings.scaling(145)
                        fillMode: Image.Stretch
                        // Crisp module edges rather than a blurred code.
                        smooth: false
                        // Decoded on the spot by the "qrcode" image provider, so the
                        // code comes with the dialog's first frame; a data URL would
                        // be loaded in the background, after an empty frame.
                        source: {
                            const prefix = "data:image/png;base64,"
                            const url = _dialog.qrCodeTable
                            return url.startsWith(prefix) && url.length > prefix.length
                                    ? "image://qrcode/" + url.substring(prefix.length) : url
                        }
                    }
                }

                Column {
                    objectName: "qrSummary"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(282)
                    width: DpiSettings.scaling(380)
                    height: DpiSettings.scaling(120)

                    SummaryRow {
                        objectName: "summaryAmount"
                        caption: qsTr("Сумма к оплате")
                        value: Utils.formatMoney(_dialog.amount)
                        valueColor: Theme.colorBrand
                        unit: _dialog.currency
                    }
                    SummaryLine {}
                    SummaryRow {
                        objectName: "summaryDiscount"
                        caption: qsTr("Скидка")
                        value: Utils.formatMoney(_dialog.discount)
                        valueColor: Theme.colorTextPrimary
                        unit: _dialog.currency
                    }
                    SummaryLine {}
                    SummaryRow {
                        objectName: "summaryBonus"
                        caption: qsTr("Начислим бонусов")
                        value: Utils.formatMoney(_dialog.bonus)
                        valueColor: Theme.colorGreen
                        unit: "б."
                    }
                }
            }
        }
    }
}
