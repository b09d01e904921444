import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Window
import qv4App

// SBP payment: the QR code to scan and what the payment comes to.
ModalDialog {
    id: _dialog

    property int amount: 0
    property int discount: 0
    property int bonus: 0
    property string currency: Utils.currency
    property string qrCodeTable: ""

    readonly property string _prefix: "data:image/png;base64,"
    // The text did not fit in a QR code: there is no code to show.
    readonly property bool qrMissing: qrCodeTable === _prefix
    // Modules a side: the code is served at one pixel a module.
    property int qrModules: 0
    // Where the code would be drawn as designed, and the most the window
    // leaves it (at most scaling(400), the dialog grows with it).
    readonly property real _designSide: DpiSettings.scaling(145)
    readonly property real _roomSide: Math.max(_designSide,
            Math.min(DpiSettings.scaling(400),
                     (parent ? parent.height : 0) - DpiSettings.scaling(16) - DpiSettings.scaling(426 - 145)))
    readonly property real _pixelRatio: Screen.devicePixelRatio > 0 ? Screen.devicePixelRatio : 1
    // A code whose modules would come out under 3 screen pixels is drawn as
    // large as the dialog allows, at whole screen pixels a module.
    readonly property real qrSide: {
        const modules = qrModules
        if (modules <= 0 || _designSide * _pixelRatio / modules >= 3)
            return _designSide
        const pixels = Math.floor(_roomSide * _pixelRatio / modules)
        return pixels >= 1 ? modules * pixels / _pixelRatio : _roomSide
    }

    width: Math.max(DpiSettings.scaling(428), qrSide + DpiSettings.scaling(21 + 48))
    height: DpiSettings.scaling(426) + qrSide - DpiSettings.scaling(145)
    // The code lies on whole screen pixels, from the window's corner down to
    // the image: at half a pixel, each renderer puts the modules' edges on
    // its own side of it, and a code drawn without smoothing shifts by one.
    x: DpiSettings.snapped((parent.width - width) / 2)
    y: DpiSettings.snapped((parent.height - height) / 2)

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

                Image {
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(24)
                    width: DpiSettings.scaling(100)
                    height: DpiSettings.scaling(54)
                    sourceSize.width: DpiSettings.decodedPixels(width)
                    sourceSize.height: DpiSettings.decodedPixels(height)
                    source: "qrc:/icons/sbp.svg"
                }

                Rectangle {
                    objectName: "qrFrame"
                    x: DpiSettings.snapped((parent.width - width) / 2)
                    y: DpiSettings.snapped(DpiSettings.scaling(94))
                    width: _dialog.qrSide + DpiSettings.scaling(21)
                    height: width
                    radius: DpiSettings.scaling(8)
                    color: Theme.colorTextPrimary
                    visible: _dialog.qrCodeTable !== "" && !_dialog.qrMissing

                    Image {
                        objectName: "qrImage"
                        x: DpiSettings.snapped((parent.width - width) / 2)
                        y: DpiSettings.snapped((parent.height - height) / 2)
                        width: _dialog.qrSide
                        height: _dialog.qrSide
                        fillMode: Image.Stretch
                        // Crisp module edges rather than a blurred code.
                        smooth: false
                        // Decoded on the spot by the "qrcode" image provider, so the
                        // code comes with the dialog's first frame; a data URL would
                        // be loaded in the background, after an empty frame.
                        source: {
                            const url = _dialog.qrCodeTable
                            return url.startsWith(_dialog._prefix) && url.length > _dialog._prefix.length
                                    ? "image://qrcode/" + url.substring(_dialog._prefix.length) : ""
                        }
                        onStatusChanged: _dialog.qrModules = status === Image.Ready ? implicitWidth : 0
                    }
                }

                // No empty white square: the customer is told instead.
                Label {
                    objectName: "qrMissingLabel"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(94)
                    width: DpiSettings.scaling(228)
                    height: DpiSettings.scaling(166)
                    visible: _dialog.qrMissing
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    wrapMode: Text.WordWrap
                    font.pixelSize: DpiSettings.scaling(16)
                    font.weight: Font.Normal
                    color: Theme.colorTextSecondary
                    text: qsTr("QR-код не удалось показать. Попросите кассира выбрать другой способ оплаты")
                }

                Column {
                    objectName: "qrSummary"
                    anchors.horizontalCenter: parent.horizontalCenter
                    y: DpiSettings.scaling(282) + _dialog.qrSide - _dialog._designSide
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
            // qmllint enable unqualified
        }
    }
}
