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

    // A figure too wide for its column shrinks rather than run into the next
    // one, to 60 % at most. Every figure stays inside the panel's inner margin,
    // the row's right edge. The bonus column starts close to that edge: what
    // its figure still lacks at its smallest it takes to the left, its column
    // moving over (_bonusShift); the discount's keeps a gap before it.
    readonly property real _rightLimit: _row.width
    // The smallest whole pixel size at or above 60 % of `pixelSize`.
    function _smallest(pixelSize) {
        return Math.ceil(0.6 * pixelSize)
    }
    // Glyph advances scale with the size; the half pixel covers rounding.
    readonly property real _bonusShift: Math.ceil(Math.max(0, _bonusLabel.implicitWidth * _bonusLabel.minimumPixelSize
                                                              / _bonusLabel.font.pixelSize + 0.5
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
                // The figure and its sign shrink together, on their baseline:
                // two sizes, which one text's fontSizeMode cannot fit.
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
                // Its room runs on to the bonus column, or to the row's edge.
                width: (_bonusColumn.visible ? _bonusColumn.x - _panel._bonusShift - DpiSettings.scaling(8)
                                             : _panel._rightLimit)
                       - parent.x
                height: implicitHeight
                // A smaller size sits on the designed one's line.
                verticalAlignment: Text.AlignBottom
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: _panel._smallest(font.pixelSize)
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.DemiBold
                color: Theme.colorTextPrimary
                text: Utils.formatPercent(_panel.order.discountPercent * 100) + "% ("
                      + Utils.formatMoney(_panel.order.discount) + ")"
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
                width: _panel._rightLimit - _bonusColumn.x + _panel._bonusShift
                height: implicitHeight
                verticalAlignment: Text.AlignBottom
                fontSizeMode: Text.HorizontalFit
                minimumPixelSize: _panel._smallest(font.pixelSize)
                font.pixelSize: DpiSettings.scaling(16)
                font.weight: Font.DemiBold
                color: Theme.colorRed
                text: "-" + Utils.formatMoney(_panel.order.expenseBonusCount)
            }
        }
    }
}
