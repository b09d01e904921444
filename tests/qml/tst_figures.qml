import QtQuick
import QtQuick.Controls.Basic
import QtTest
import qv4App
import qv4Test

// Every money figure stays inside its widget and clear of every other text,
// from the smallest amounts to the largest the terminal can send. Set in the
// display's own font, as the window sets it, since widths depend on it.
Control {
    id: root
    width: 1280
    height: 776
    font.family: "Onest"

    QVFonts {}

    function s(x) { return DpiSettings.scaling(x) }

    Component { id: priceComponent; OrderPriceWidget { width: root.s(428); height: root.s(104); order: OrderRecord {} } }
    Component { id: paymentComponent; PaymentDialog { backgroundItem: root } }
    Component { id: qrComponent; QRPaymentDialog { backgroundItem: root } }
    Component { id: waitingComponent; QVWaitingDialog { backgroundItem: root } }
    // The receipt panel with one line of the given name and changes.
    Component {
        id: panelComponent
        ReceiptItemsWidget {
            property string lineName: ""
            property var changes: []
            width: root.s(428); height: root.s(656)
            client: ClientRecord {}
            receiptItemsModel: ListModel {}
            Component.onCompleted: receiptItemsModel.append({
                uuid: "L1", menuName: lineName, quantity: 1, menuPrice: 21500, discountAmount: 0,
                discountReceipt: 0, receiptItemRecipeChanges: changes, recipeChangesOmitted: 3, total: 21500 })
        }
    }
    Component {
        id: delegateComponent
        ItemViewDelegate {
            width: root.s(368); uuid: "L1"; menuName: "Капучино 0,3 л"; discountAmount: 0; discountReceipt: 0
            receiptItemRecipeChanges: [{ nomenclature: "Сироп карамель", quantity: 2 }]; recipeChangesOmitted: 0
        }
    }
    Component {
        id: receiptComponent
        ReceiptItemsWidget {
            width: root.s(428); height: root.s(656)
            client: ClientRecord {
                uuid: "G-1"; clientName: "Анна"; clientLastName: "Смирнова"
                discountName: "Постоянный гость"; discountPercent: 1000
            }
            receiptItemsModel: ListModel {}
            Component.onCompleted: receiptItemsModel.append({
                uuid: "L1", menuName: "Круассан", quantity: 1, menuPrice: 21500, discountAmount: 0,
                discountReceipt: 0, receiptItemRecipeChanges: [], recipeChangesOmitted: 0, total: 21500 })
        }
    }

    TestCase {
        name: "Figures"
        when: windowShown

        // The largest amount the terminal sends, and for the dialogs'
        // integer amounts the largest 32-bit one.
        readonly property real most: 9999999999
        readonly property int mostInt: 2147483647

        function init() {
            failOnWarning(/.?/)
        }

        // The visible text items below `item`.
        function texts(item) {
            return Array.from(item.children).filter(c => c.visible).reduce((found, c) => found.concat(
                c.contentWidth !== undefined && c.lineCount !== undefined && c.text !== "" ? [c] : [], texts(c)), [])
        }

        // Where the glyphs of a text item are drawn, in the widget's coordinates.
        function paintedRect(text, widget) {
            const left = text.leftPadding || 0, top = text.topPadding || 0
            const free = [text.width - left - (text.rightPadding || 0) - text.contentWidth,
                          text.height - top - (text.bottomPadding || 0) - text.contentHeight]
            const h = text.effectiveHorizontalAlignment, v = text.verticalAlignment
            const x = left + free[0] * (h === Text.AlignRight ? 1 : h === Text.AlignHCenter ? 0.5 : 0)
            const y = top + free[1] * (v === Text.AlignBottom ? 1 : v === Text.AlignVCenter ? 0.5 : 0)
            return text.mapToItem(widget, x, y, text.contentWidth, text.contentHeight)
        }

        // Each widget with small, typical and extreme figures; only extreme
        // ones may shrink to fit. The totals' figures keep the panel's inner
        // margin; the others' widgets have their own.
        function test_figuresInPlace_data() {
            return [
                { tag: "totals small", component: priceComponent, mayShrink: false, margin: root.s(24),
                  props: { "order.totalAmount": 1, "order.discount": 0, "order.discountPercent": 0,
                           "order.expenseBonusCount": 1 } },
                { tag: "totals typical", component: priceComponent, mayShrink: false, margin: root.s(24),
                  props: { "order.totalAmount": 131500, "order.discount": 5200, "order.discountPercent": 0.038,
                           "order.expenseBonusCount": 4000 } },
                { tag: "totals extreme", component: priceComponent, mayShrink: true, margin: root.s(24),
                  props: { "order.totalAmount": most, "order.discount": most, "order.discountPercent": 0.1234,
                           "order.expenseBonusCount": mostInt } },
                { tag: "totals extreme, a short percentage", component: priceComponent, mayShrink: true, margin: root.s(24),
                  props: { "order.totalAmount": most, "order.discount": most, "order.discountPercent": 0.07,
                           "order.expenseBonusCount": mostInt } },
                { tag: "totals extreme, no bonuses", component: priceComponent, mayShrink: true, margin: root.s(24),
                  props: { "order.totalAmount": most, "order.discount": most, "order.discountPercent": 0.1234,
                           "order.expenseBonusCount": 0 } },
                { tag: "line small", component: delegateComponent, mayShrink: false, margin: 0,
                  props: { quantity: 1, menuPrice: 1, total: 1 } },
                { tag: "line typical", component: delegateComponent, mayShrink: false, margin: 0,
                  props: { quantity: 2, menuPrice: 18000, total: 32400 } },
                { tag: "line extreme", component: delegateComponent, mayShrink: true, margin: 0,
                  props: { quantity: 999999, menuPrice: most, total: most } },
                { tag: "client small", component: receiptComponent, mayShrink: false, margin: 0,
                  props: { "client.bonusCount": 0 } },
                { tag: "client typical", component: receiptComponent, mayShrink: false, margin: 0,
                  props: { "client.bonusCount": 154320 } },
                { tag: "client extreme", component: receiptComponent, mayShrink: true, margin: 0,
                  props: { "client.bonusCount": most } },
                { tag: "card small", component: paymentComponent, mayShrink: false, margin: 0,
                  props: { amount: 0 } },
                { tag: "card typical", component: paymentComponent, mayShrink: false, margin: 0,
                  props: { amount: 127500 } },
                { tag: "card extreme", component: paymentComponent, mayShrink: true, margin: 0,
                  props: { amount: mostInt } },
                { tag: "QR small", component: qrComponent, mayShrink: false, margin: 0,
                  props: { amount: 1, discount: 0, bonus: 0 } },
                { tag: "QR typical", component: qrComponent, mayShrink: false, margin: 0,
                  props: { amount: 127500, discount: 5200, bonus: 1315 } },
                { tag: "QR extreme", component: qrComponent, mayShrink: true, margin: 0,
                  props: { amount: mostInt, discount: mostInt, bonus: mostInt } }
            ]
        }

        // Every text of the customer's side with the longest content a
        // terminal may send stays inside its panel's inner margin, in its
        // designed size: elided, or wrapped to two lines.
        function test_textsInPlace_data() {
            const longText = "Капучино на кокосовом молоке с двойной порцией эспрессо и карамельным сиропом ".repeat(7)
            const word = "Щ".repeat(500)
            const addresses = ["127.0.0.1", "192.168.1.10", "192.168.88.23", "172.17.0.1", "10.8.0.6",
                               "10.20.30.40", "100.64.12.1", "169.254.3.3"].map(a => ({ address: a }))
            return [
                { tag: "line, long words", component: panelComponent, margin: root.s(24),
                  props: { lineName: longText, changes: [{ nomenclature: longText, quantity: 1 }, { nomenclature: "Сыр", quantity: 2 }] } },
                { tag: "line, one long word", component: panelComponent, margin: root.s(24),
                  props: { lineName: word, changes: [{ nomenclature: word, quantity: 12345 }] } },
                { tag: "client, long names", component: receiptComponent, margin: root.s(24),
                  props: { "client.clientName": longText, "client.clientLastName": word,
                           "client.discountName": longText, "client.discountPercent": 1250, "client.bonusCount": most } },
                { tag: "client, right-to-left override", component: receiptComponent, margin: root.s(24),
                  props: { "client.clientName": "\u202Eанна", "client.discountName": "\u202E" + longText,
                           "client.discountPercent": 1000 } },
                { tag: "waiting, eight addresses and a busy port", component: waitingComponent, margin: root.s(24),
                  props: { appIp: addresses, listening: false, portBusy: true } },
                { tag: "QR, no code", component: qrComponent, margin: root.s(24),
                  props: { qrCodeTable: "data:image/png;base64,", amount: 100 } }
            ]
        }

        function test_textsInPlace(data) {
            test_figuresInPlace(data)
        }

        function test_figuresInPlace(data) {
            const object = createTemporaryObject(data.component, root, data.props)
            const dialog = object.open !== undefined
            if (dialog) {
                object.open()
                tryVerify(() => object.opened)
            }
            const widget = dialog ? object.contentItem : object
            // The list's first line arrives with its next layout.
            const receipt = findChild(widget, "receiptView")
            if (receipt)
                tryVerify(() => receipt.visible && findChild(widget, "receiptList").itemAtIndex(0) !== null)
            waitForItemPolished(widget)
            const found = texts(widget)
            verify(found.length >= 2, "the widget shows its texts")
            const rects = found.map(t => paintedRect(t, widget))
            const slack = 0.01
            for (let i = 0; i < found.length; ++i) {
                const r = rects[i]
                const what = "\"" + found[i].text + "\" at " + r.x + ".." + (r.x + r.width)
                const m = data.margin
                verify(r.x >= m - slack && r.y >= -slack && r.x + r.width <= widget.width - m + slack
                       && r.y + r.height <= widget.height + slack,
                       what + " lies inside the widget of width " + widget.width + ", margin " + m)
                // A text that fits itself (fontSizeMode) is designed at its implicit width.
                const designed = found[i].fontSizeMode === Text.FixedSize ? found[i].contentWidth
                                                                         : found[i].implicitWidth
                if (!data.mayShrink)
                    fuzzyCompare(r.width, designed, slack, what + " is at its designed size")
                else
                    verify(r.width >= 0.6 * designed - slack, what + " shrinks to 60 % at most")
                for (let j = i + 1; j < found.length; ++j) {
                    const o = rects[j]
                    const apart = r.x + r.width <= o.x + slack || o.x + o.width <= r.x + slack
                                  || r.y + r.height <= o.y + slack || o.y + o.height <= r.y + slack
                    verify(apart, what + " and \"" + found[j].text + "\" do not overlap")
                }
            }
        }
    }
}
