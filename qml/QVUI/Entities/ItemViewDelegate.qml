pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import qv4App

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
    // Changes beyond those shown, counted by the display itself.
    required property int recipeChangesOmitted
    required property real total

    spacing: DpiSettings.scaling(8)

    // A long name wraps to a second line and is elided there.
    Label {
        objectName: "itemNameLabel"
        x: DpiSettings.scaling(12)
        width: _delegate.width
        // One line in its designed height; two in theirs.
        height: implicitHeight > DpiSettings.scaling(30) ? implicitHeight : DpiSettings.scaling(20)
        font.pixelSize: DpiSettings.scaling(16)
        color: Theme.colorTextSecondary
        wrapMode: Text.Wrap
        elide: Text.ElideRight
        maximumLineCount: 2
        clip: true
        text: Utils.isolate(_delegate.menuName)
    }

    Flow {
        id: _flow
        objectName: "recipeChanges"
        x: DpiSettings.scaling(12)
        width: _delegate.width
        spacing: DpiSettings.scaling(4)
        visible: _chips.count > 0 || _delegate.recipeChangesOmitted > 0

        Repeater {
            id: _chips
            model: Array.isArray(_delegate.receiptItemRecipeChanges) ? _delegate.receiptItemRecipeChanges : []

            Rectangle {
                id: _chip
                required property var modelData
                objectName: "recipeChip"
                readonly property var change: modelData && typeof modelData === "object" ? modelData : ({})
                readonly property string name: change.nomenclature === undefined || change.nomenclature === null
                                               ? "" : String(change.nomenclature)
                // No quantity: the name alone, not a dangling " x".
                readonly property string shownQuantity: Utils.formatQuantity(change.quantity)
                readonly property string count: shownQuantity === "" ? "" : " x" + shownQuantity
                // What it says, without the marks that isolate the name.
                readonly property string text: name + count
                width: Math.min(_chipLabel.implicitWidth + DpiSettings.scaling(16), _flow.width)
                height: DpiSettings.scaling(20)
                radius: DpiSettings.scaling(32)
                color: Theme.colorBackgroundAdditive

                Label {
                    id: _chipLabel
                    x: DpiSettings.scaling(8)
                    width: Math.min(implicitWidth, _chip.width - DpiSettings.scaling(16))
                    anchors.verticalCenter: parent.verticalCenter
                    elide: Text.ElideMiddle
                    clip: true
                    font.pixelSize: DpiSettings.scaling(12)
                    color: Theme.colorTextPrimary
                    text: Utils.isolate(_chip.name) + _chip.count
                }
            }
        }

        // The display's own count of the changes it left out.
        Rectangle {
            objectName: "omittedChip"
            readonly property string text: "+" + _delegate.recipeChangesOmitted
            visible: _delegate.recipeChangesOmitted > 0
            width: _omittedLabel.implicitWidth + DpiSettings.scaling(16)
            height: DpiSettings.scaling(20)
            radius: DpiSettings.scaling(32)
            color: Theme.colorBackgroundAdditive

            Label {
                id: _omittedLabel
                x: DpiSettings.scaling(8)
                anchors.verticalCenter: parent.verticalCenter
                font.pixelSize: DpiSettings.scaling(12)
                color: Theme.colorTextPrimary
                text: parent.text
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
                text: Utils.currency
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
                text: Utils.currency
            }
        }
    }

    Rectangle {
        width: _delegate.width
        height: 1
        color: Theme.colorStrokeDark
    }
}
