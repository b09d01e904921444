import QtQuick
import QtQuick.Controls.Basic
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

    // The window's content behind a dialog: white on the left half, black
    // on the right.
    Rectangle {
        id: scenery
        anchors.fill: parent
        color: "black"
        visible: false

        Rectangle {
            width: parent.width / 2
            height: parent.height
            color: "white"
        }
    }

    // A window of another height for the QR dialog.
    Item {
        id: room
        width: 1280
        height: 776
    }

    Component {
        id: paymentComponent
        PaymentDialog { backgroundItem: root }
    }

    Component {
        id: qrComponent
        QRPaymentDialog { backgroundItem: root }
    }

    Component {
        id: waitingComponent
        QVWaitingDialog { backgroundItem: root }
    }

    Component {
        id: outcomeComponent
        PaymentOutcomeDialog {
            backgroundItem: root
        }
    }

    TestCase {
        name: "PaymentDialogs"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        // The dimmer the open modal dialog puts over the window (lent to the
        // item Qt makes for it).
        function modalOverlay(dialog) {
            const overlay = dialog.parent
            const isDimmer = item => item.visible && item.color !== undefined && root.hex(item.color) === "#aa000000"
            for (let i = overlay.children.length - 1; i >= 0; --i) {
                const child = overlay.children[i]
                if (isDimmer(child))
                    return child
                for (let j = 0; j < child.children.length; ++j) {
                    if (isDimmer(child.children[j]))
                        return child.children[j]
                }
            }
            return null
        }

        function test_frame_data() {
            return [
                { tag: "card", component: paymentComponent, height: 312 },
                { tag: "QR", component: qrComponent, height: 426 },
                { tag: "waiting", component: waitingComponent, height: 252 },
                { tag: "payment outcome", component: outcomeComponent, height: 312 }
            ]
        }

        function test_frame(data) {
            const dialog = createTemporaryObject(data.component, root)
            verify(dialog.modal)
            verify(dialog.dim)
            compare(dialog.closePolicy, Popup.NoAutoClose)
            compare(dialog.padding, 0)
            dialog.open()
            verify(dialog.opened)
            compare(dialog.height, root.s(data.height))
            compare(dialog.x, (root.width - dialog.width) / 2)
            compare(dialog.y, (root.height - dialog.height) / 2)

            // Blurred, darkened content behind the card.
            const dimmer = modalOverlay(dialog)
            verify(dimmer, "a #AA000000 overlay")
            compare(dimmer.width, root.width)
            compare(dimmer.height, root.height)
            let blur = null
            for (let i = 0; i < dimmer.children.length; ++i) {
                if (dimmer.children[i].radius !== undefined && dimmer.children[i].source !== undefined)
                    blur = dimmer.children[i]
            }
            verify(blur, "a blur inside the overlay")
            compare(blur.source, root)
            compare(blur.radius, root.s(48))
            verify(blur.z < 0, "beneath the overlay's fill")
            compare(blur.width, dimmer.width)

            keyClick(Qt.Key_Escape)
            verify(dialog.opened, "Escape leaves it open")
            mouseClick(root, 3, 3)
            verify(dialog.opened, "a press outside leaves it open")
            dialog.close()
            verify(!dialog.opened)
        }

        function test_paymentDialog() {
            const dialog = createTemporaryObject(paymentComponent, root)
            compare(dialog.amount, 12000)
            compare(dialog.currency, "₽")
            dialog.open()
            const content = dialog.contentItem
            compare(findChild(content, "paymentTitle").text, "Сумма к оплате")
            compare(findChild(content, "paymentTitle").font.weight, Font.DemiBold)
            compare(findChild(content, "paymentAmount").text, "120,00")
            compare(findChild(content, "paymentCurrency").text, "₽")
            compare(root.hex(findChild(content, "paymentCurrency").color), root.hex(Theme.colorTextDisable))
            const hint = findChild(content, "paymentHint")
            compare(hint.text, "Воспользуйтесь терминалом для оплаты")
            verify(hint.lineCount > 1, "wrapped at word boundaries")
            // Title, amount and hint from top to bottom inside the card, none over another.
            let above = null
            for (const name of ["paymentTitle", "paymentAmount", "paymentHint"]) {
                const part = findChild(content, name)
                const r = part.mapToItem(content, 0, 0, part.width, part.height)
                verify(r.x >= 0 && r.x + r.width <= content.width && r.y + r.height <= content.height, name)
                if (above)
                    verify(above.y + above.height <= r.y, name + " below the one before")
                above = r
            }
            compare(hint.wrapMode, Text.WordWrap)
            dialog.amount = 0
            compare(findChild(content, "paymentAmount").text, "0,00")
            dialog.close()
        }

        function test_outcome_data() {
            return [
                { tag: "paid", outcome: "success", title: "Оплата прошла", hint: "Спасибо за покупку!",
                  colour: Theme.colorGreen },
                { tag: "declined", outcome: "declined", title: "Оплата не прошла",
                  hint: "Попробуйте ещё раз или выберите другой способ оплаты", colour: Theme.colorRed }
            ]
        }

        function test_outcome(data) {
            const dialog = createTemporaryObject(outcomeComponent, root, { outcome: data.outcome })
            dialog.open()
            const content = dialog.contentItem
            compare(findChild(content, "outcomeTitle").text, data.title)
            const hint = findChild(content, "outcomeHint")
            compare(hint.text, data.hint)
            verify(hint.x >= 0 && hint.x + hint.width <= dialog.width, "inside the card")
            verify(hint.y + hint.height <= dialog.height, "inside the card")
            compare(root.hex(findChild(content, "outcomeMark").color), root.hex(data.colour))
            dialog.close()
        }

        function test_contentBuiltOnFirstShow_data() {
            return [
                { tag: "card", component: paymentComponent, part: "paymentAmount", value: "42,00" },
                { tag: "QR", component: qrComponent, part: "summaryAmount", value: "42,00" }
            ]
        }

        function test_contentBuiltOnFirstShow(data) {
            const dialog = createTemporaryObject(data.component, root)
            const content = findChild(dialog.contentItem, "dialogContent")
            verify(content, "the content has a loader")
            compare(content.status, Loader.Null, "nothing built before the first show")
            verify(!findChild(dialog.contentItem, data.part))
            let first = null
            for (let i = 0; i < 3; ++i) {
                dialog.amount = 4200 + i * 100
                dialog.open()
                verify(dialog.opened)
                compare(content.status, Loader.Ready, "built as it opens")
                if (first === null)
                    first = content.item
                compare(content.item, first, "built once, kept from then on")
                const part = findChild(dialog.contentItem, data.part)
                verify(part.visible)
                const text = data.part === "paymentAmount" ? part.text : summary(dialog, data.part)[0].text
                compare(text, (42 + i) + ",00", "bound to the dialog's amount")
                dialog.close()
                verify(!dialog.opened)
                compare(content.item, first, "kept while closed")
            }
        }

        function test_blurReleasedWhenClosed_data() {
            return [
                { tag: "card", component: paymentComponent },
                { tag: "QR", component: qrComponent },
                { tag: "waiting", component: waitingComponent }
            ]
        }

        function test_blurReleasedWhenClosed(data) {
            const dialog = createTemporaryObject(data.component, root)
            for (let i = 0; i < 2; ++i) {
                dialog.open()
                const dimmer = modalOverlay(dialog)
                let backdrop = null
                for (let j = 0; j < dimmer.children.length; ++j) {
                    if (dimmer.children[j].effectsDrawn !== undefined)
                        backdrop = dimmer.children[j]
                }
                verify(backdrop)
                backdrop.effectsDrawn = true // as where shader effects are drawn
                const effect = findChild(backdrop, "blurEffect")
                compare(effect.status, Loader.Ready)
                compare(effect.item.source, root)
                compare(effect.item.radius, root.s(48))
                dialog.close()
                verify(!dialog.opened)
                // The dimmer, and the blur in it, go with the dialog.
                tryVerify(() => modalOverlay(dialog) === null)
                const left = findChild(dialog.parent, "blurEffect")
                verify(!left || left.status === Loader.Null, "a closed dialog keeps no blur layers")
            }
        }

        function test_backdropIsSoft_data() {
            return [
                { tag: "card", component: paymentComponent },
                { tag: "QR", component: qrComponent },
                { tag: "waiting", component: waitingComponent },
                { tag: "QR, opened again at once", component: qrComponent, again: true }
            ]
        }

        // Behind a dialog the content shows darkened by black at 170 of 255,
        // and blurred on either scene graph: the sharp edge between white and
        // black comes out as a ramp, not a step. A dialog opened again is
        // soft from its first frame: a flapping dialog never shows the sharp
        // window, nor grabs it on every opening.
        function test_backdropIsSoft(data) {
            scenery.visible = true
            const dialog = createTemporaryObject(data.component, root)
            dialog.open()
            tryVerify(() => dialog.opened)
            const edge = root.width / 2
            const y = 30 // above every card
            const soft = () => {
                const image = grabImage(root)
                const [white, nearWhite, nearBlack, black] =
                    [edge - 200, edge - 3, edge + 2, edge + 200].map(x => image.red(x, y))
                return Math.abs(white - 85) <= 3 && black <= 3 && nearWhite < white - 5 && nearBlack > black + 5
            }
            tryVerify(soft, 5000, "darkened and soft across the edge")
            if (data.again) {
                dialog.close()
                tryVerify(() => modalOverlay(dialog) === null, 5000, "its backdrop gone")
                dialog.open()
                verify(soft(), "soft at once")
            }
            scenery.visible = false
        }

        function summary(dialog, row) {
            const item = findChild(dialog.contentItem, row)
            return [findChild(item, "summaryValue"), findChild(item, "summaryUnit")]
        }

        function test_qrSummary() {
            const dialog = createTemporaryObject(qrComponent, root,
                                                 { amount: 150000, discount: 15000, bonus: 1500 })
            dialog.open()
            let [value, unit] = summary(dialog, "summaryAmount")
            compare(value.text, "1 500,00")
            compare(root.hex(value.color), root.hex(Theme.colorBrand))
            compare(unit.text, "₽")
            compare(root.hex(unit.color), root.hex(Theme.colorTextDisable));
            [value, unit] = summary(dialog, "summaryDiscount")
            compare(value.text, "150,00")
            compare(root.hex(value.color), root.hex(Theme.colorTextPrimary))
            compare(unit.text, "₽");
            [value, unit] = summary(dialog, "summaryBonus")
            compare(value.text, "15,00")
            compare(root.hex(value.color), root.hex(Theme.colorGreen))
            compare(unit.text, "б.")

            dialog.bonus = 0
            compare(value.text, "0,00", "a zero bonus still shows its row")
            verify(findChild(dialog.contentItem, "summaryBonus").visible)
            compare(findChild(dialog.contentItem, "qrSummary").y, root.s(282))
            dialog.close()
        }

        // Long payment texts: modules of at least 3 screen pixels wherever
        // the window leaves room, the dialog growing within the window.
        function test_qrSizes_data() {
            return [
                { tag: "120 characters at 1280x776", length: 120, height: 776, pixels: 3, side: 145 },
                { tag: "300 characters at 1280x776", length: 300, height: 776, pixels: 3 },
                { tag: "300 characters at 800x480", length: 300, height: 480, pixels: 3 },
                { tag: "1000 characters at 1280x776", length: 1000, height: 776, pixels: 3 },
                { tag: "1000 characters at 800x480", length: 1000, height: 480, pixels: 1 },
                { tag: "2900 characters at 1280x776", length: 2900, height: 776, pixels: 2 }
            ]
        }

        function test_qrSizes(data) {
            let text = "https://qr.nspk.ru/AS1000670LSS7DN18SJQDNP4B05KLJL2?type=01&bank=100000000001&sum=10000&cur=RUB"
            while (text.length < data.length)
                text += "&x" + text.length
            text = text.substring(0, data.length)
            room.height = data.height
            const dialog = createTemporaryObject(qrComponent, root, { parent: room })
            dialog.qrCodeTable = Qr.dataUrl(text)
            dialog.open()
            const image = findChild(dialog.contentItem, "qrImage")
            tryCompare(image, "status", Image.Ready)
            verify(dialog.qrModules > 20)
            const pixels = image.width / dialog.qrModules
            verify(pixels >= data.pixels, pixels + " px a module")
            if (data.side)
                compare(image.width, root.s(data.side), "drawn as designed")
            else
                compare(pixels, Math.floor(pixels), "whole pixels a module")
            // At half a pixel, renderers disagree on which side of it each module's edge falls.
            const corner = image.mapToItem(null, 0, 0)
            compare(Qt.point(Math.round(corner.x), Math.round(corner.y)), corner, "the code on whole pixels")
            verify(dialog.height <= room.height, "the dialog fits its window")
            const summary = findChild(dialog.contentItem, "qrSummary")
            const frame = findChild(dialog.contentItem, "qrFrame")
            verify(summary.y >= frame.y + frame.height, "the summary below the code")
            dialog.close()
        }

        function test_qrFrame() {
            const dialog = createTemporaryObject(qrComponent, root)
            dialog.open()
            const frame = findChild(dialog.contentItem, "qrFrame")
            verify(!frame.visible, "no code: logo and summary only")
            dialog.qrCodeTable = "data:image/png;base64,"
            const missing = findChild(dialog.contentItem, "qrMissingLabel")
            verify(!frame.visible, "a text too long for a code: never an empty white square")
            verify(missing.visible, "the dialog says so instead")
            verify(missing.text.length > 0)
            dialog.qrCodeTable = Qr.dataUrl("https://qr.example.com/p?s=15000")
            verify(frame.visible, "a code")
            verify(!missing.visible)
            compare(missing.y, frame.y, "the message takes the code's place")
            compare(root.hex(frame.color), root.hex(Theme.colorTextPrimary))
            // The code on its light frame, a margin all round.
            const image = findChild(dialog.contentItem, "qrImage")
            compare(image.width, dialog.qrSide)
            verify(image.x > 0 && image.x + image.width < frame.width)
            verify(image.y > 0 && image.y + image.height < frame.height)
            dialog.qrCodeTable = ""
            verify(!frame.visible, "an emptied code hides the frame")
            dialog.close()
        }
    }
}
