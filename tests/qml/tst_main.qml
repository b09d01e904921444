import QtQuick
import QtQuick.Window
import QtTest
import qv4App
import qv4Test

// Main shown with the display's own core, reached the way the display
// reaches it: by the name "appCore" in the document's context.
Item {
    id: root

    Core {
        id: appCore
    }

    SignalSpy {
        id: showSpy
        signalName: "aboutToShow"
    }

    SignalSpy {
        id: hideSpy
        signalName: "aboutToHide"
    }

    TestCase {
        id: testCase
        name: "Main"

        property var window: null

        function find(name) {
            const stack = [window.contentItem.parent]
            for (let i = 0; i < window.data.length; ++i)
                stack.push(window.data[i])
            while (stack.length > 0) {
                const object = stack.pop()
                if (!object)
                    continue
                if (object.objectName === name)
                    return object
                // data holds the visual children and the other objects (popups).
                const children = object.data || object.children
                if (children)
                    for (let i = 0; i < children.length; ++i)
                        stack.push(children[i])
            }
            return null
        }

        function init() {
            failOnWarning(/.?/)
            const component = Qt.createComponent("qrc:/qt/qml/qv4App/Main.qml")
            compare(component.status, Component.Ready, component.errorString())
            window = component.createObject(null)
            verify(window)
            tryVerify(() => window.visible)
            showSpy.clear()
            hideSpy.clear()
        }

        function cleanup() {
            window.destroy()
            window = null
            appCore.setUseFullScreen(false)
            appCore.loadReceipt([])
            appCore.appEnv.client.uuid = ""
            appCore.appEnv.client.clientName = ""
            appCore.appEnv.order.totalAmount = 0
            appCore.appEnv.order.expenseBonusCount = 0
            DpiSettings.factor = 0
        }

        function dialogs() {
            return { waiting: find("waitingDialog"), qr: find("qrPaymentDialog"), card: find("paymentDialog") }
        }

        function test_window() {
            // The designed size, or the screen's available size where that is smaller
            // (the test platform's screen is 800 × 600).
            compare(window.width, Math.min(1280, window.Screen.desktopAvailableWidth))
            compare(window.height, Math.min(776, window.Screen.desktopAvailableHeight))
            verify(window.width > 0 && window.height > 0)
            compare(window.title, "QUORVEX ORDER SCREEN V4")
            compare(window.font.family, "Onest")
            verify(window.visibility !== Window.FullScreen)
            compare(String(window.background.color), String(Theme.colorBackgroundSecondary))
        }

        // Every dialog blurs what the window shows behind it.
        function test_dialogsBlurTheWindow() {
            const d = dialogs()
            for (const name of ["waiting", "qr", "card"])
                compare(d[name].backgroundItem, window.contentItem, name)
        }

        function test_fullScreenFollowsTheFlag() {
            appCore.setUseFullScreen(true)
            compare(window.visibility, Window.FullScreen)
            appCore.setUseFullScreen(false)
            verify(window.visibility !== Window.FullScreen)
        }

        // The screens shops buy, landscape and portrait, at the scale each is
        // meant for; "panel" is the width the receipt column comes out at
        // (1.39 times the design's at 1920x1080 with fit).
        function test_layout_data() {
            return [
                { tag: "1280x776, dpi", width: 1280, height: 776, scale: "dpi", panel: 428 },
                { tag: "1920x1080, fit", width: 1920, height: 1080, scale: "fit", panel: 428 * 1080 / 776 },
                { tag: "1920x1080, factor 1.5", width: 1920, height: 1080, scale: "1.5", panel: 642 },
                { tag: "1024x768, fit", width: 1024, height: 768, scale: "fit", panel: 428 * 0.8 },
                { tag: "800x480, fit", width: 800, height: 480, scale: "fit", panel: 428 * 480 / 776 },
                { tag: "1080x1920, portrait, fit", width: 1080, height: 1920, scale: "fit", panel: 1080 - 24 },
                { tag: "1080x1920, portrait, dpi", width: 1080, height: 1920, scale: "dpi", panel: 1080 - 16 }
            ]
        }

        // Each size: the panel inside the window, the picture clear of it in
        // portrait, every text inside the column, and the client with eight
        // lines in view without scrolling at 1080x1920.
        function test_layout(data) {
            window.screenScale = data.scale
            window.width = data.width
            window.height = data.height
            appCore.appEnv.client.uuid = "G-1"
            appCore.appEnv.client.clientName = "Анна"
            appCore.appEnv.order.totalAmount = 131500
            appCore.appEnv.order.expenseBonusCount = 4000
            const lines = []
            for (let i = 0; i < 8; ++i)
                lines.push({ uuid: "L" + i, menu_name: "Капучино 0,3 л", quantity: 1, menu_price: 18000, total: 18000 })
            appCore.loadReceipt(lines)
            const content = window.contentItem
            const column = find("rightColumn")
            const receipt = find("receiptItemsWidget")
            const totals = find("orderPriceWidget")
            const promo = find("promoImages")
            const list = find("receiptList")
            waitForItemPolished(column)
            tryVerify(() => list.count === 8 && list.itemAtIndex(0) !== null)

            fuzzyCompare(column.width, data.panel, 0.01)
            verify(column.x > 0 && column.y > 0 && column.x + column.width < content.width
                   && column.y + column.height < content.height, "the column lies inside the window")
            compare(receipt.height + totals.height, column.height)
            compare(totals.y, receipt.height, "no gap")
            compare(promo.width, content.width)
            if (data.height > data.width)
                verify(promo.y + promo.height < column.y, "the picture ends above the panel")
            else
                compare(promo.height, content.height)
            verify(promo.z <= column.z)
            const label = find("versionLabel")
            verify(label.x + label.contentWidth < column.x || label.y + label.height < column.y,
                   "the version stays clear of the panel")

            const texts = []
            const stack = [column]
            while (stack.length > 0) {
                const item = stack.pop()
                if (!item.visible)
                    continue
                if (item.contentWidth !== undefined && item.lineCount !== undefined && item.text !== "")
                    texts.push(item)
                for (let i = 0; i < item.children.length; ++i)
                    stack.push(item.children[i])
            }
            verify(texts.length > 8)
            for (const text of texts) {
                // Where its glyphs go, by its alignment.
                const h = text.effectiveHorizontalAlignment
                const free = (text.width - text.leftPadding - text.rightPadding - text.contentWidth)
                             * (h === Text.AlignRight ? 1 : h === Text.AlignHCenter ? 0.5 : 0)
                const r = text.mapToItem(column, text.leftPadding + free, 0, text.contentWidth, text.height)
                verify(r.x >= -0.01 && r.x + r.width <= column.width + 0.01,
                       "\"" + text.text + "\" at " + r.x + ".." + (r.x + r.width) + " inside the column")
            }
            if (data.width === 1080)
                verify(list.contentHeight <= list.height, "eight lines in view: " + list.contentHeight + " in "
                       + list.height)
        }

        function test_versionLabel() {
            const label = find("versionLabel")
            // The build's version, which stays for the run.
            verify(/^\d+\.\d+\.\d+-\d+-\w+$/.test(appCore.appEnv.longVersionString))
            compare(label.text, "Версия приложения " + appCore.appEnv.longVersionString)
            compare(label.x, DpiSettings.scaling(10))
            compare(label.y, window.contentItem.height - DpiSettings.scaling(20))
            compare(label.font.pixelSize, DpiSettings.scaling(12))
            compare(String(label.color), String(Theme.colorTextCaption))
        }

        // Each figure is set through the core as its service sets it, and
        // shown; then set to another.
        function test_bindings_data() {
            const order = appCore.appEnv.order
            return [
                { tag: "logo", item: "receiptItemsWidget", property: "logo", picture: true,
                  set: url => appCore.setLogo(url), value: "qrc:/icons/logo.svg", other: "" },
                { tag: "qrCodeTable", item: "qrPaymentDialog", property: "qrCodeTable",
                  set: table => order.qrCodeTable = table, value: "data:image/png;base64,", other: "" },
                { tag: "QR amount", item: "qrPaymentDialog", property: "amount",
                  set: amount => order.receiptPaymentAmount = amount, value: 150000, other: 0 },
                { tag: "QR discount", item: "qrPaymentDialog", property: "discount",
                  set: discount => order.receiptPaymentDiscount = discount, value: 15000, other: 0 },
                { tag: "QR bonus", item: "qrPaymentDialog", property: "bonus",
                  set: bonus => order.replenishmentBonus = bonus, value: 1500, other: 0 },
                { tag: "card amount", item: "paymentDialog", property: "amount",
                  set: amount => order.receiptPaymentAmount = amount, value: 12300, other: 0 },
                { tag: "addresses", item: "waitingDialog", property: "appIp",
                  set: ips => appCore.setAddresses(ips.map(ip => ip.address)),
                  value: [{ address: "10.0.0.5" }], other: [] },
                { tag: "promo images", item: "promoImages", property: "images", picture: true,
                  set: entries => appCore.setPromoImagesToShow(entries),
                  value: [{ url: "qrc:/icons/logo.svg" }], other: [] }
            ]
        }

        function test_bindings(data) {
            const item = find(data.item)
            verify(item, data.item)
            data.set(data.value)
            if (data.picture)
                compare(item[data.property], data.other, "a picture is shown once it has loaded, not before")
            tryCompare(item, data.property, data.value)
            data.set(data.other)
            tryCompare(item, data.property, data.other)
        }

        // The panels are handed the core's own records and lines.
        function test_handedDown_data() {
            return [
                { tag: "client", item: "receiptItemsWidget", property: "client", value: appCore.appEnv.client },
                { tag: "order", item: "orderPriceWidget", property: "order", value: appCore.appEnv.order },
                { tag: "receipt lines", item: "receiptItemsWidget", property: "receiptItemsModel",
                  value: appCore.appEnv.receiptItemModel }
            ]
        }

        function test_handedDown(data) {
            compare(find(data.item)[data.property], data.value)
        }

        function test_waitingDialogFollowsTheTerminal() {
            const d = dialogs()
            verify(d.waiting.opened, "opened on completion")
            appCore.networkService.terminalConnected()
            verify(!d.waiting.opened)
            appCore.networkService.terminalDisconnected()
            verify(d.waiting.opened)
            appCore.networkService.terminalDisconnected()
            verify(d.waiting.opened)
            appCore.networkService.terminalConnected()
            verify(!d.waiting.opened)
        }

        function test_showPaymentTwiceOpensOnce() {
            const d = dialogs()
            showSpy.target = d.card
            appCore.appEnv.showPaymentDialog()
            verify(d.card.opened)
            appCore.appEnv.showPaymentDialog()
            verify(d.card.opened)
            compare(showSpy.count, 1)
            verify(!d.qr.opened)
        }

        function test_showQrReplacesCard() {
            const d = dialogs()
            appCore.appEnv.showPaymentDialog()
            verify(d.card.opened)
            appCore.appEnv.showQRPaymentDialog()
            tryVerify(() => d.qr.opened, 1000, "a change right after an opening waits for the pace")
            verify(!d.card.opened, "only one payment dialog at a time")
            showSpy.target = d.qr
            appCore.appEnv.showQRPaymentDialog()
            compare(showSpy.count, 0, "already open: nothing changes")
            verify(d.qr.opened)
        }

        function test_showCardReplacesQr() {
            const d = dialogs()
            appCore.appEnv.showQRPaymentDialog()
            appCore.appEnv.showPaymentDialog()
            tryVerify(() => d.card.opened)
            verify(!d.qr.opened)
        }

        // A terminal toggling the dialogs: each close at once, the openings
        // paced, and the last request is what stays.
        function test_flappingIsPaced() {
            const d = dialogs()
            showSpy.target = d.card
            for (let i = 0; i < 20; ++i) {
                appCore.appEnv.showQRPaymentDialog()
                appCore.appEnv.closePaymentDialogs()
                appCore.appEnv.showPaymentDialog()
                verify(!d.qr.opened || !d.card.opened)
            }
            tryVerify(() => d.card.opened)
            verify(!d.qr.opened)
            compare(showSpy.count, 1, "one opening for twenty requests within 100 ms")
        }

        function test_closePaymentDialogs() {
            const d = dialogs()
            hideSpy.target = d.card
            appCore.appEnv.closePaymentDialogs()
            compare(hideSpy.count, 0, "nothing open: nothing changes")
            appCore.appEnv.showPaymentDialog()
            appCore.appEnv.closePaymentDialogs()
            verify(!d.card.opened)
            appCore.appEnv.showQRPaymentDialog()
            appCore.appEnv.closePaymentDialogs()
            verify(!d.qr.opened)
            verify(!d.card.opened)
        }

        function test_paymentOutcome_data() {
            return [
                { tag: "paid", outcome: "success", paid: true },
                { tag: "declined", outcome: "declined", paid: false }
            ]
        }

        // The terminal's word on a payment is up until the display ends it.
        function test_paymentOutcome(data) {
            const dialog = find("paymentOutcomeDialog")
            verify(!dialog.opened)
            appCore.setPaymentOutcome(data.outcome)
            verify(dialog.opened)
            compare(dialog.paid, data.paid)
            appCore.setPaymentOutcome("")
            verify(!dialog.opened)
        }

        function test_paymentRequestedRightAtStart_data() {
            return [
                { tag: "card", signal: "showPaymentDialog", open: "card", closed: "qr", part: "paymentAmount" },
                { tag: "QR", signal: "showQRPaymentDialog", open: "qr", closed: "card", part: "qrSummary" }
            ]
        }

        // The request comes before the window has shown a frame.
        function test_paymentRequestedRightAtStart(data) {
            window.destroy()
            window = Qt.createComponent("qrc:/qt/qml/qv4App/Main.qml").createObject(null)
            appCore.appEnv[data.signal]()
            const d = dialogs()
            verify(d[data.open].opened)
            verify(!d[data.closed].opened)
            verify(d.waiting.opened, "the waiting dialog stays")
            const content = d[data.open].contentItem
            verify(findChild(content, data.part), "its content is there")
            compare(findChild(d[data.closed].contentItem, "dialogContent").status, Loader.Null,
                    "the other one is not built")
            tryVerify(() => window.visible)
            verify(d[data.open].opened)
        }

        function test_paymentContentsNotBuiltAtStart() {
            const d = dialogs()
            compare(findChild(d.card.contentItem, "dialogContent").status, Loader.Null)
            compare(findChild(d.qr.contentItem, "dialogContent").status, Loader.Null)
            appCore.appEnv.showPaymentDialog()
            compare(findChild(d.card.contentItem, "dialogContent").status, Loader.Ready)
            compare(findChild(d.qr.contentItem, "dialogContent").status, Loader.Null)
            appCore.appEnv.closePaymentDialogs()
        }

        function test_waitingIsIndependentOfPayments() {
            const d = dialogs()
            appCore.networkService.terminalConnected()
            appCore.appEnv.showQRPaymentDialog()
            verify(d.qr.opened)
            verify(!d.waiting.opened)
            // A lost terminal: the payment dialogs close first, then the waiting one opens.
            appCore.appEnv.closePaymentDialogs()
            appCore.networkService.terminalDisconnected()
            verify(d.waiting.opened)
            verify(!d.qr.opened)
            appCore.appEnv.showPaymentDialog()
            tryVerify(() => d.card.opened)
            verify(d.waiting.opened)
        }
    }
}
