import QtQuick
import QtQuick.Controls.Basic
import qv4App

// Lower panel of the right-hand column: amount to pay, discount, bonuses spent.
Rectangle {
    id: _panel

    // Its figures follow the order's own change, whoever wrote them.
    required property Order order

    radius: DpiSettings.scaling(12)
    color: Theme.colorBackgroundPrimary
    border.width: 1
    border.color: Theme.colorStrokeDark

    // A figure too wide for its column shrinks (FitScale) rather than run into
    // the next one. Every figure stays inside the panel's inner margin, the
    // row's right edge. The bonus column starts close to that edge: what its
    // figure still lacks at 60 % it takes to the left, its column moving over
    // (_bonusShift); the discount's keeps a gap before it.
    readonly property real _rightLimit: _row.width
    readonly property real _bonusShift: Math.ceil(Math.max(0, _bonusLabel.implicitWidth * _bonusLabel.fit.factor
                                                              - (_rightLimit - _bonusColumn.x)))

    Row {
        id: _row
        objectName: "totalsRow"
        anchors.horizontalCenter: parent.horizontalCenter
        y: DpiSettings.scaling(29)
        width: _panel.width - DpiSettings.scaling(48)
        height: DpiSettings.scaling(46)
        spacing: DpiSettings.scaling(26.5)
        visible: _panel.order.totalAmount > 0

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
                id: _toPay
                height: parent.height
                spacing: DpiSettings.scaling(6)
                readonly property FitScale fit: FitScale {
                    natural: _toPay.width
                    available: _toPay.parent.width
                    origin.y: _toPayLabel.y + _toPayLabel.baselineOffset
                }
                transform: fit.factor < 1 ? [fit] : []

                Label {
                    id: _toPayLabel
                    objectName: "toPayLabel"
                    font.pixelSize: DpiSettings.scaling(24)
                    font.weight: Font.DemiBold
                    color: Theme.colorBrand
                    text: Utils.formatMoney(_panel.order.totalAmount)
                }

                Label {
                    y: DpiSettings.scaling(12)
                    font.pixelSize: DpiSettings.scaling(14)
                    font.weight: Font.DemiBold
                    color: Theme.colorStrokeDark
                    text: Utils.currency
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
                id: _discountLabel
                objectName: "discountLabel"
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.DemiBold
                color: Theme.colorTextPrimary
                text: Utils.formatPercent(_panel.order.discountPercent * 100) + "% ("
                      + Utils.formatMoney(_panel.order.discount) + ")"
                readonly property FitScale fit: FitScale {
                    natural: _discountLabel.implicitWidth
                    available: (_bonusColumn.visible ? _bonusColumn.x - _panel._bonusShift - DpiSettings.scaling(8)
                                                     : _panel._rightLimit)
                               - _discountLabel.parent.x
                    origin.y: _discountLabel.baselineOffset
                }
                transform: fit.factor < 1 ? [fit] : []
            }
        }

        Column {
            id: _bonusColumn
            objectName: "bonusColumn"
            anchors.verticalCenter: parent.verticalCenter
            width: _row.width * 0.30
            height: DpiSettings.scaling(38)
            visible: _panel.order.expenseBonusCount > 0
            transform: _panel._bonusShift > 0 ? [_shift] : []

            Translate {
                id: _shift
                x: -_panel._bonusShift
            }

            Label {
                width: parent.width
                font.pixelSize: DpiSettings.scaling(12)
                color: Theme.colorTextPrimary
                text: qsTr("Бонусы")
            }

            Label {
                id: _bonusLabel
                objectName: "bonusLabel"
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.DemiBold
                color: Theme.colorRed
                text: "-" + Utils.formatMoney(_panel.order.expenseBonusCount)
                readonly property FitScale fit: FitScale {
                    natural: _bonusLabel.implicitWidth
                    available: _panel._rightLimit - _bonusColumn.x
                    origin.y: _bonusLabel.baselineOffset
                }
                transform: fit.factor < 1 ? [fit] : []
            }
        }
    }
}
