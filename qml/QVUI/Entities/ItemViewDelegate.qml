import QtQuick
import QtQuick.Controls.Basic
import "../Shared"
import "../UIKit"

// One receipt line: name, recipe-change chips, unit price and total.
Column {
    id: _delegate

    required property string uuid
    required property string menuName
    required property real quantity
    required property real menuPrice
    required property real discountAmount
    required property real discountReceipt
    required property var receiptItemRecipeChanges
    required property real total

    spacing: DpiSettings.scaling(8)

    Label {
        objectName: "itemNameLabel"
        x: DpiSettings.scaling(12)
        width: _delegate.width
        height: DpiSettings.scaling(20)
        font.pixelSize: DpiSettings.scaling(16)
        color: Theme.colorTextSecondary
        wrapMode: Text.NoWrap
        elide: Text.ElideNone
        maximumLineCount: 1
        text: _delegate.menuName
    }

    Flow {
        objectName: "recipeChanges"
        x: DpiSettings.scaling(12)
        width: _delegate.width
        spacing: DpiSettings.scaling(4)
        visible: _chips.count > 0

        Repeater {
            id: _chips
            model: Array.isArray(_delegate.receiptItemRecipeChanges) ? _delegate.receiptItemRecipeChanges : []

            Rectangle {
                id: _chip
                required property var modelData
                objectName: "recipeChip"
                readonly property string text: _chipLabel.text
                width: _chipLabel.implicitWidth + DpiSettings.scaling(16)
                height: DpiSettings.scaling(20)
                radius: DpiSettings.scaling(32)
                color: Theme.colorBackgroundAdditive

                Label {
                    id: _chipLabel
                    x: DpiSettings.scaling(8)
                    anchors.verticalCenter: parent.verticalCenter
                    font.pixelSize: DpiSettings.scaling(12)
                    color: Theme.colorTextPrimary
                    text: {
                        const change = _chip.modelData
                        if (!change || typeof change !== "object")
                            return " x"
                        // The display keeps a line's first changes and counts the rest in
                        // one last element of its own.
                        if (typeof change.omitted === "number" && change.nomenclature === undefined
                                && change.quantity === undefined)
                            return "+" + change.omitted
                        const name = change.nomenclature === undefined || change.nomenclature === null
                                ? "" : String(change.nomenclature)
                        return name + " x" + Utils.formatQuantity(change.quantity)
                    }
                }
            }
        }
    }

    Row {
        id: _priceRow
        objectName: "priceRow"
        anchors.right: parent.right
        height: DpiSettings.scaling(18)
        spacing: DpiSettings.scaling(12)
        // Shrinks towards the right edge rather than pass the name's indent.
        readonly property FitScale fit: FitScale {
            natural: _priceRow.width
            available: _delegate.width - DpiSettings.scaling(12)
            origin.x: _priceRow.width
            origin.y: _unitPrice.y + _unitPrice.baselineOffset
        }
        transform: fit.factor < 1 ? [fit] : []

        Row {
            height: parent.height
            spacing: DpiSettings.scaling(6)

            Label {
                id: _unitPrice
                objectName: "unitPriceLabel"
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: Theme.colorTextDisable
                text: Utils.formatQuantity(_delegate.quantity) + " x " + Utils.formatMoney(_delegate.menuPrice)
            }

            Label {
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: Theme.colorStrokeDark
                text: "₽"
            }
        }

        Rectangle {
            width: 1
            height: parent.height
            color: Theme.colorStrokeDark
        }

        Row {
            height: parent.height
            spacing: DpiSettings.scaling(6)

            Label {
                objectName: "totalLabel"
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: _delegate.discountAmount > 0 ? Theme.colorGreen : Theme.colorTextPrimary
                text: Utils.formatMoney(_delegate.total)
            }

            Label {
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: Theme.colorStrokeDark
                text: "₽"
            }
        }
    }

    Rectangle {
        width: _delegate.width
        height: 1
        color: Theme.colorStrokeDark
    }
}
