import QtQuick
import QtQuick.Controls.Basic
import qv4App

// The loyalty client of the order: name, bonus balance and discount.
Column {
    id: _view

    required property Client client

    width: parent ? parent.width : 0
    // No client: the order has none.
    visible: client.uuid !== ""

    Row {
        height: DpiSettings.scaling(40)
        spacing: DpiSettings.scaling(8)

        Image {
            objectName: "clientIcon"
            anchors.verticalCenter: parent.verticalCenter
            width: DpiSettings.scaling(20)
            height: DpiSettings.scaling(20)
            sourceSize.width: DpiSettings.decodedPixels(width)
            sourceSize.height: DpiSettings.decodedPixels(height)
            // Read once a client shows, not at start-up.
            source: _view.visible ? "qrc:/icons/person.svg" : ""
        }

        Label {
            objectName: "clientNameLabel"
            // Gives way to the balance, which ends at the view's edge.
            width: Math.max(DpiSettings.scaling(60),
                            Math.min(_view.width - DpiSettings.scaling(96),
                                     _view.width - DpiSettings.scaling(36) - _balance.width))
            height: parent.height
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
            clip: true
            font.pixelSize: DpiSettings.scaling(14)
            font.weight: Font.DemiBold
            color: Theme.colorBrand
            // Concatenated, not .arg(): a name may itself hold "%2".
            text: Utils.isolate(_view.client.clientName) + " " + Utils.isolate(_view.client.clientLastName)
        }

        // The balance ends at the view's right edge, the panel's inner
        // margin; a longer one shrinks to fit.
        Row {
            id: _balance
            height: parent.height
            spacing: DpiSettings.scaling(6)
            readonly property FitScale fit: FitScale {
                natural: _balance.width
                available: _view.width - _balance.x
                origin.y: _balanceLabel.y + _balanceLabel.baselineOffset
            }
            transform: fit.factor < 1 ? [fit] : []

            Label {
                id: _balanceLabel
                objectName: "clientBonusLabel"
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: Theme.colorGreen
                text: Utils.formatMoney(_view.client.bonusCount)
            }

            Label {
                objectName: "clientBonusUnitLabel"
                height: parent.height
                verticalAlignment: Text.AlignVCenter
                font.pixelSize: DpiSettings.scaling(14)
                font.weight: Font.DemiBold
                color: Theme.colorStrokeDark
                text: "б."
            }
        }
    }

    Rectangle {
        width: _view.width
        height: 1
        color: Theme.colorStrokeDark
    }

    Label {
        objectName: "clientDiscountLabel"
        width: _view.width
        height: DpiSettings.scaling(40)
        verticalAlignment: Text.AlignVCenter
        // The name gives way to the percentage, which stays whole.
        elide: Text.ElideMiddle
        clip: true
        font.pixelSize: DpiSettings.scaling(14)
        font.weight: Font.DemiBold
        color: Theme.colorTextPrimary
        text: Utils.isolate(_view.client.discountName) + " (" + Utils.formatPercent(_view.client.discountPercent / 100) + " %)"
    }
}
