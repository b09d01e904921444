import QtQuick
import QtTest
import qv4Test
import qv4App

Item {
    id: root
    width: 1280
    height: 776

    function hex(color) {
        return String(color).toLowerCase()
    }

    function s(x) {
        return DpiSettings.scaling(x)
    }

    // Where `item` lies in `panel`'s coordinates.
    function rect(item, panel) {
        return item.mapToItem(panel, 0, 0, item.width, item.height)
    }

    // The room between `item` and each edge of `panel`.
    function margins(item, panel) {
        const r = rect(item, panel)
        return { left: r.x, right: panel.width - r.x - r.width, top: r.y, bottom: panel.height - r.y - r.height }
    }

    // A text without the marks that isolate the terminal's parts of it.
    function plain(text) {
        return text.replace(/[\u2068\u2069]/g, "")
    }

    Component {
        id: priceComponent
        OrderPriceWidget {
            width: root.s(428)
            height: root.s(104)
            order: OrderRecord {}
        }
    }

    Component {
        id: clientComponent
        Item {
            property alias view: _view
            width: root.s(380)
            height: 200
            ClientInfoView {
                id: _view
                client: ClientRecord {}
            }
        }
    }

    Component {
        id: delegateComponent
        ItemViewDelegate {
            width: root.s(368)
            uuid: "L1"
            menuName: "Капучино"
            quantity: 1
            menuPrice: 0
            discountAmount: 0
            discountReceipt: 0
            receiptItemRecipeChanges: []
            recipeChangesOmitted: 0
            total: 0
        }
    }

    Component {
        id: receiptComponent
        ReceiptItemsWidget {
            width: root.s(428)
            height: root.s(656)
            client: ClientRecord {}
        }
    }

    Component {
        id: listModelComponent
        ListModel {}
    }

    Component {
        id: realModelComponent
        ReceiptModel {}
    }

    function line(name) {
        return { uuid: name, menuName: name, quantity: 1, menuPrice: 10000, discountAmount: 0,
                 discountReceipt: 0, receiptItemRecipeChanges: [], recipeChangesOmitted: 0, total: 10000 }
    }

    TestCase {
        name: "OrderPriceWidget"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_frame() {
            const panel = createTemporaryObject(priceComponent, root)
            compare(panel.radius, root.s(12))
            compare(root.hex(panel.color), root.hex(Theme.colorBackgroundPrimary))
            compare(panel.border.width, 1)
            compare(root.hex(panel.border.color), root.hex(Theme.colorStrokeDark))
        }

        function test_nothingToPay() {
            const panel = createTemporaryObject(priceComponent, root,
                                                { "order.discount": 500, "order.expenseBonusCount": 100 })
            verify(!findChild(panel, "totalsRow").visible, "only the border shows")
            panel.order.totalAmount = -100
            verify(!findChild(panel, "totalsRow").visible)
            panel.order.totalAmount = 1
            verify(findChild(panel, "totalsRow").visible)
        }

        function test_texts_data() {
            return [
                { tag: "whole percent", percent: 0.15, discount: 4500, text: "15% (45,00)" },
                { tag: "half percent", percent: 0.125, discount: 1000, text: "12.5% (10,00)" },
                { tag: "product not exact", percent: 0.07, discount: 700, text: "7.000% (7,00)" },
                { tag: "no discount", percent: 0, discount: 0, text: "0% (0,00)" },
                { tag: "long fraction cut", percent: 0.123456, discount: 1, text: "12.34% (0,01)" }
            ]
        }

        function test_texts(data) {
            const panel = createTemporaryObject(priceComponent, root, {
                "order.totalAmount": 150000, "order.discountPercent": data.percent, "order.discount": data.discount })
            compare(findChild(panel, "toPayLabel").text, "1 500,00")
            compare(root.hex(findChild(panel, "toPayLabel").color), root.hex(Theme.colorBrand))
            compare(findChild(panel, "discountLabel").text, data.text)
            verify(findChild(panel, "discountColumn").visible)
            verify(!findChild(panel, "bonusColumn").visible, "no bonuses spent: no bonus column")
        }

        function test_bonuses() {
            const panel = createTemporaryObject(priceComponent, root,
                                                { "order.totalAmount": 100, "order.expenseBonusCount": 5000 })
            const column = findChild(panel, "bonusColumn")
            verify(column.visible)
            compare(findChild(panel, "bonusLabel").text, "-50,00")
            compare(root.hex(findChild(panel, "bonusLabel").color), root.hex(Theme.colorRed))
            panel.order.expenseBonusCount = 0
            verify(!column.visible)
        }

        function test_layout() {
            const panel = createTemporaryObject(priceComponent, root,
                                                { "order.totalAmount": 100, "order.expenseBonusCount": 1 })
            const row = findChild(panel, "totalsRow")
            waitForItemPolished(row)
            const m = root.margins(row, panel)
            verify(m.left > 0 && m.top >= 0 && m.bottom >= 0, "inside its panel")
            fuzzyCompare(m.right, m.left, 1e-6)
            // The three figures side by side, left to right, none over another.
            const toPay = root.rect(row.children[0], row) // the amount to pay, first
            const discount = root.rect(findChild(panel, "discountColumn"), row)
            const bonus = root.rect(findChild(panel, "bonusColumn"), row)
            verify(toPay.x >= 0 && toPay.x + toPay.width <= discount.x)
            verify(discount.x + discount.width <= bonus.x)
            verify(discount.y >= 0 && discount.y + discount.height <= row.height, "inside the row")
        }
    }

    TestCase {
        name: "ClientInfoView"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_hiddenWithoutClient() {
            const holder = createTemporaryObject(clientComponent, root)
            holder.view.client.clientName = "Иван"
            verify(!holder.view.visible)
            holder.view.client.uuid = "G-1"
            verify(holder.view.visible)
            compare(holder.view.width, holder.width)
        }

        function test_iconReadOnceShown() {
            const holder = createTemporaryObject(clientComponent, root)
            const icon = findChild(holder.view, "clientIcon")
            compare(String(icon.source), "", "no client: the icon is not read")
            compare(icon.status, Image.Null)
            holder.view.client.uuid = "G-1"
            compare(String(icon.source), "qrc:/icons/person.svg")
            compare(icon.status, Image.Ready, "read at once, for the same frame")
            compare(icon.sourceSize.width, Math.ceil(root.s(20)))
        }

        function test_texts() {
            const holder = createTemporaryObject(clientComponent, root)
            const view = holder.view
            view.client.uuid = "G-1"
            view.client.clientName = "Иван"
            view.client.clientLastName = "Петров"
            view.client.discountName = "Постоянный"
            view.client.discountPercent = 500
            view.client.bonusCount = 12345
            compare(root.plain(findChild(view, "clientNameLabel").text), "Иван Петров")
            compare(findChild(view, "clientBonusLabel").text, "123,45")
            compare(findChild(view, "clientBonusUnitLabel").text, "б.")
            compare(root.plain(findChild(view, "clientDiscountLabel").text), "Постоянный (5 %)")
            compare(root.hex(findChild(view, "clientNameLabel").color), root.hex(Theme.colorBrand))
            compare(root.hex(findChild(view, "clientBonusLabel").color), root.hex(Theme.colorGreen))
            compare(root.hex(findChild(view, "clientBonusUnitLabel").color), root.hex(Theme.colorStrokeDark))
            compare(findChild(view, "clientNameLabel").font.weight, Font.DemiBold)
        }

        function test_discountPercent_data() {
            return [
                { tag: "whole", percent: 1500, text: "15" },
                { tag: "half", percent: 1250, text: "12.5" },
                { tag: "cut to five characters", percent: 12345, text: "123.4" },
                { tag: "zero", percent: 0, text: "0" },
                { tag: "infinite, clamped", percent: Infinity, text: "999" },
                { tag: "not a number", percent: NaN, text: "0" },
                { tag: "tiny, no exponent", percent: 1e-7, text: "0" }
            ]
        }

        function test_discountPercent(data) {
            const holder = createTemporaryObject(clientComponent, root)
            holder.view.client.uuid = "G-1"
            holder.view.client.discountName = "Скидка"
            holder.view.client.discountPercent = data.percent
            compare(root.plain(findChild(holder.view, "clientDiscountLabel").text), "Скидка (" + data.text + " %)")
        }

        function test_nameIsNotTakenAsAPattern() {
            const holder = createTemporaryObject(clientComponent, root)
            holder.view.client.uuid = "G-1"
            holder.view.client.clientName = "%2"
            holder.view.client.clientLastName = "Петров"
            compare(root.plain(findChild(holder.view, "clientNameLabel").text), "%2 Петров")
        }

        function test_layout() {
            const holder = createTemporaryObject(clientComponent, root)
            const view = holder.view
            view.client.uuid = "G-1"
            view.client.bonusCount = 100
            waitForItemPolished(view)
            const name = findChild(view, "clientNameLabel")
            compare(name.width, view.width - root.s(96))
            compare(name.height, root.s(40))
            verify(name.elide === Text.ElideRight)
            const bonus = findChild(view, "clientBonusLabel")
            tryVerify(() => bonus.mapToItem(view, 0, 0).x === view.width - root.s(60))
            compare(view.height, root.s(40) * 2 + 1, "two rows and a line")
        }
    }

    TestCase {
        name: "ItemViewDelegate"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function chips(delegate) {
            const flow = findChild(delegate, "recipeChanges")
            const result = []
            for (let i = 0; i < flow.children.length; ++i) {
                if (flow.children[i].objectName === "recipeChip")
                    result.push(flow.children[i])
            }
            return result
        }

        function test_prices_data() {
            return [
                { tag: "discounted", discount: 3000, colour: Theme.colorGreen },
                { tag: "not discounted", discount: 0, colour: Theme.colorTextPrimary },
                { tag: "negative discount", discount: -5, colour: Theme.colorTextPrimary }
            ]
        }

        function test_prices(data) {
            const delegate = createTemporaryObject(delegateComponent, root, {
                quantity: 2, menuPrice: 15000, total: 27000, discountAmount: data.discount })
            compare(findChild(delegate, "unitPriceLabel").text, "2 x 150,00")
            compare(root.hex(findChild(delegate, "unitPriceLabel").color), root.hex(Theme.colorTextDisable))
            compare(findChild(delegate, "totalLabel").text, "270,00")
            compare(root.hex(findChild(delegate, "totalLabel").color), root.hex(data.colour))
        }

        function test_quantityFormat_data() {
            return [
                { tag: "fraction", quantity: 1.5, text: "1.5 x 1,00" },
                { tag: "six digits", quantity: 0.3333333, text: "0.333333 x 1,00" }
            ]
        }

        function test_quantityFormat(data) {
            const delegate = createTemporaryObject(delegateComponent, root,
                                                   { quantity: data.quantity, menuPrice: 100 })
            compare(findChild(delegate, "unitPriceLabel").text, data.text)
        }

        function test_chips() {
            const delegate = createTemporaryObject(delegateComponent, root, {
                receiptItemRecipeChanges: [{ nomenclature: "Сыр", quantity: 2 },
                                           { nomenclature: "Лук", quantity: 1 }] })
            const list = chips(delegate)
            compare(list.length, 2)
            compare(list[0].text, "Сыр x2")
            compare(list[1].text, "Лук x1")
            waitForItemPolished(findChild(delegate, "recipeChanges"))
            compare(list[0].y, list[1].y, "one row while they fit")
            compare(list[0].height, root.s(20))
            compare(root.hex(list[0].color), root.hex(Theme.colorBackgroundAdditive))
            verify(findChild(delegate, "recipeChanges").visible)
        }

        function test_chipsWrap() {
            const changes = []
            for (let i = 0; i < 12; ++i)
                changes.push({ nomenclature: "Добавка " + i, quantity: 1 })
            const delegate = createTemporaryObject(delegateComponent, root,
                                                   { receiptItemRecipeChanges: changes })
            const flow = findChild(delegate, "recipeChanges")
            waitForItemPolished(flow)
            const list = chips(delegate)
            verify(list[list.length - 1].y > list[0].y, "wrapped to a further row")
            for (const chip of list)
                verify(chip.x + chip.width <= flow.width + 0.5)
        }

        // A terminal's data cannot pose as the display's own: its marker of
        // left-out changes, the direction of its own texts, a line's height,
        // figures that would print as an exponent or "Inf".
        function test_terminalDataStaysTerminalData_data() {
            return [
                { tag: "a change {omitted: 5} from the terminal",
                  props: { receiptItemRecipeChanges: [{ omitted: 5 }] }, chips: [""], omitted: "" },
                { tag: "the display's own count",
                  props: { receiptItemRecipeChanges: [{ nomenclature: "Сыр", omitted: 3 }], recipeChangesOmitted: 99950 },
                  chips: ["Сыр"], omitted: "+99950" },
                { tag: "a right-to-left override in the name",
                  props: { menuName: "\u202EКапучино", quantity: 2, menuPrice: 15000 },
                  name: "\u2068Капучино\u2069", unitPrice: "2 x 150,00" },
                { tag: "a PDI, then an override, ending the name",
                  props: { menuName: "Капучино\u2069\u202E", quantity: 2, menuPrice: 15000 },
                  name: "\u2068Капучино\u2069", unitPrice: "2 x 150,00" },
                { tag: "499 combining marks", props: { menuName: "a" + "\u0301".repeat(499) }, clipped: true },
                { tag: "an amount of 1e308", props: { menuPrice: 1e308, total: 1e308, quantity: 1 },
                  unitPrice: "1 x 99 999 999,99", total: "99 999 999,99" },
                { tag: "an infinite total", props: { total: Infinity }, total: "99 999 999,99" },
                { tag: "not a number", props: { total: NaN }, total: "0,00" }
            ]
        }

        function test_terminalDataStaysTerminalData(data) {
            const delegate = createTemporaryObject(delegateComponent, root, data.props)
            if (data.chips !== undefined) {
                compare(chips(delegate).map(chip => chip.text), data.chips)
                const omitted = findChild(delegate, "omittedChip")
                compare(omitted.visible ? omitted.text : "", data.omitted)
            }
            const name = findChild(delegate, "itemNameLabel")
            if (data.name !== undefined)
                compare(name.text, data.name, "isolated: it cannot reorder what follows")
            if (data.clipped)
                verify(name.clip, "the line clips what it draws")
            if (data.unitPrice !== undefined)
                compare(findChild(delegate, "unitPriceLabel").text, data.unitPrice)
            if (data.total !== undefined)
                compare(findChild(delegate, "totalLabel").text, data.total)
        }

        function test_oddRecipeChanges() {
            const delegate = createTemporaryObject(delegateComponent, root, {
                receiptItemRecipeChanges: [{ nomenclature: "Соус" }, { quantity: 1.5 }, null] })
            const list = chips(delegate)
            compare(list.length, 3)
            compare(list[0].text, "Соус", "no quantity: the name alone, no dangling x")
            compare(list[1].text, " x1.5")
        }

        function test_noChipsTakesNoSpace() {
            const delegate = createTemporaryObject(delegateComponent, root)
            verify(!findChild(delegate, "recipeChanges").visible)
            waitForItemPolished(delegate)
            compare(findChild(delegate, "priceRow").y, root.s(20) + root.s(8))
        }

        function test_layout() {
            const delegate = createTemporaryObject(delegateComponent, root,
                                                   { menuName: "Очень длинное название позиции, длиннее одной строки списка, на две строки" })
            const name = findChild(delegate, "itemNameLabel")
            compare(name.x, root.s(12))
            compare(name.width, delegate.width)
            compare(name.lineCount, 2, "a long name wraps to a second line")
            delegate.menuName = "Очень длинное название позиции, длиннее строки ".repeat(5)
            compare(name.lineCount, 2, "never a third")
            verify(name.truncated, "elided there")
            compare(root.hex(name.color), root.hex(Theme.colorTextSecondary))
            const price = findChild(delegate, "priceRow")
            waitForItemPolished(price)
            compare(price.x + price.width, delegate.width, "flush with the right edge")
            compare(price.height, root.s(18))
        }
    }

    TestCase {
        name: "ReceiptItemsWidget"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_welcomeWhileEmpty() {
            const model = createTemporaryObject(listModelComponent, root)
            const panel = createTemporaryObject(receiptComponent, root, {
                receiptItemsModel: model, "client.uuid": "G-1", "client.clientName": "Иван" })
            verify(findChild(panel, "welcomeView").visible)
            verify(!findChild(panel, "receiptView").visible, "the client does not show while empty")
            compare(findChild(panel, "welcomeLabel").text, "Добро пожаловать!")
            compare(findChild(panel, "welcomeLabel").font.weight, Font.DemiBold)
            compare(root.hex(panel.color), root.hex(Theme.colorBackgroundPrimary))
            compare(panel.radius, root.s(12))
        }

        function test_logo() {
            const panel = createTemporaryObject(receiptComponent, root)
            const logo = findChild(panel, "logoImage")
            compare(String(logo.source), "")
            compare(logo.width, root.s(168))
            compare(logo.height, root.s(88))
            const greetingY = findChild(panel, "welcomeLabel").y
            panel.logo = ""
            compare(String(logo.source), "")
            panel.logo = "qrc:/icons/logo.svg"
            compare(String(logo.source), "qrc:/icons/logo.svg")
            compare(findChild(panel, "welcomeLabel").y, greetingY, "the greeting stays put")
            panel.logo = null
            compare(String(logo.source), "")
        }

        function test_receiptView() {
            const model = createTemporaryObject(listModelComponent, root)
            const panel = createTemporaryObject(receiptComponent, root, { receiptItemsModel: model })
            const list = findChild(panel, "receiptList")
            model.append(root.line("A"))
            // Row insertions reach the view's count at its next layout.
            tryVerify(() => !findChild(panel, "welcomeView").visible)
            verify(findChild(panel, "receiptView").visible)
            waitForItemPolished(findChild(panel, "receiptView"))

            // No client: the list fills the panel inside its margins.
            verify(!findChild(panel, "clientInfoView").visible)
            const alone = root.margins(list, panel)
            verify(alone.left > 0 && alone.top > 0, "inside its panel")
            fuzzyCompare(alone.right, alone.left, 1e-6)
            fuzzyCompare(alone.bottom, alone.top, 1e-6)
            verify(list.clip)

            // A client: shown above the list, which starts below it, within the
            // same side margins.
            panel.client.uuid = "G-1"
            const client = findChild(panel, "clientInfoView")
            verify(client.visible)
            tryVerify(() => root.rect(list, panel).y >= root.rect(client, panel).y + client.height)
            const withClient = root.margins(list, panel)
            verify(withClient.bottom >= 0, "inside its panel")
            fuzzyCompare(withClient.left, alone.left, 1e-6)
            fuzzyCompare(withClient.right, alone.right, 1e-6)

            tryVerify(() => list.itemAtIndex(0) !== null)
            verify(list.itemAtIndex(0).width <= list.width, "a line within the list")

            model.clear()
            tryVerify(() => findChild(panel, "welcomeView").visible, 5000, "an emptied model brings the greeting back")
            verify(!findChild(panel, "receiptView").visible)
        }

        // A receipt sent whole at once shows that it goes on below.
        function test_moreLinesThanThePanelHolds() {
            const model = createTemporaryObject(listModelComponent, root)
            const panel = createTemporaryObject(receiptComponent, root, { receiptItemsModel: model })
            const indicator = findChild(panel, "receiptScrollIndicator")
            model.append(root.line("A"))
            tryVerify(() => findChild(panel, "receiptList").count === 1)
            verify(!indicator.active, "a receipt that fits: no sign")
            for (let i = 0; i < 30; ++i)
                model.append(root.line("L" + i))
            tryVerify(() => indicator.active, 5000, "30 lines: the indicator shows")
            verify(indicator.visible && indicator.size < 0.5)
            tryVerify(() => indicator.contentItem.opacity > 0, 5000, "drawn, not faded out")
        }
    }

    TestCase {
        name: "ReceiptFollowsNewestLine"
        when: windowShown

        property var list: null
        property var model: null

        SignalSpy {
            id: resetSpy
            signalName: "modelReset"
        }

        function init() {
            failOnWarning(/.?/)
            model = createTemporaryObject(realModelComponent, root)
            list = findChild(createTemporaryObject(receiptComponent, root, { receiptItemsModel: model }),
                             "receiptList")
            resetSpy.target = model
            resetSpy.clear()
        }

        // `count` lines of receipt `receipt`; every third has recipe changes,
        // so the lines differ in height.
        function lines(count, receipt, changedRow) {
            return Array.from({ length: count }, (_, i) => ({
                uuid: "L" + i, receipt_uuid: receipt || "R1", menu_name: "Блюдо " + i,
                quantity: i === changedRow ? 3 : 1, menu_price: 10000, total: 10000,
                receipt_item_recipe_changes: i % 3 === 0 ? [{ nomenclature: "Сыр", quantity: 1 }] : [] }))
        }

        // One "order" message: the model resets once the lines are parsed.
        function send(array) {
            const before = resetSpy.count
            model.load(array)
            tryVerify(() => resetSpy.count > before, 5000, "the lines land")
            compare(list.count, array.length)
        }

        function fullyShown(row) {
            const item = list.itemAtIndex(row)
            return item !== null && item.y >= list.contentY - 0.5
                    && item.y + item.height <= list.contentY + list.height + 0.5
        }

        function test_growingReceipt() {
            for (let n = 1; n <= 30; ++n) {
                send(lines(n))
                verify(fullyShown(n - 1), "line " + n + " of " + n + " in view")
                if (!fullyShown(0)) {
                    const newest = list.itemAtIndex(n - 1)
                    verify(list.contentY + list.height - newest.y - newest.height < 1,
                           "the lines above line " + n + " fill the panel")
                }
            }
            verify(!fullyShown(0), "30 lines do not fit: the test means something")
        }

        function test_afterFlick_data() {
            return [
                { tag: "quantity changed below the visible part", next: lines(30, "R1", 25), row: 25 },
                { tag: "quantity changed in view: no jump", next: lines(30, "R1", 1), row: 0 },
                { tag: "nothing new: back to the newest line", next: lines(30), row: 29 },
                { tag: "another receipt starts from the top", next: lines(30, "R2"), row: 0, top: true },
                { tag: "a shorter list starts from the top", next: lines(29), row: 0, top: true }
            ]
        }

        function test_afterFlick(data) {
            send(lines(1))
            send(lines(30))
            verify(fullyShown(29))
            // The customer goes back to the first lines.
            list.positionViewAtBeginning()
            verify(fullyShown(0) && !fullyShown(29))
            send(data.next)
            verify(fullyShown(data.row), "line " + (data.row + 1) + " in view")
            if (data.top)
                compare(list.contentY, list.originY)
        }
    }
}
