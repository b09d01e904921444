import QtQuick
import QtQuick.Controls.Basic
import QtTest
import qv4App

Item {
    id: root
    width: 1280
    height: 776

    function hex(color) {
        return String(color).toLowerCase()
    }

    Component {
        id: buttonComponent
        ImageButton {
            source: "qrc:/icons/close.svg"
        }
    }

    Component {
        id: holderComponent
        Item {}
    }

    Component {
        id: waiterComponent
        QVWaiter {}
    }

    Component {
        id: waitingDialogComponent
        QVWaitingDialog { backgroundItem: root }
    }

    Component {
        id: backdropComponent
        BackdropBlur {}
    }

    SignalSpy {
        id: clickedSpy
        signalName: "clicked"
    }

    TestCase {
        name: "ImageButton"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            clickedSpy.clear()
        }

        function cleanup() {
            Theme.theme = "dark"
        }

        function test_size_data() {
            return [
                { tag: "xl", button: 64, icon: 24 },
                { tag: "l", button: 56, icon: 24 },
                { tag: "m", button: 48, icon: 0 },
                { tag: "s", button: 40, icon: 20 },
                { tag: "xs", button: 32, icon: 20 },
                { tag: "xxs", button: 20, icon: 20 }
            ]
        }

        function test_size(data) {
            const button = createTemporaryObject(buttonComponent, root, { size: data.tag })
            compare(button.width, DpiSettings.scaling(data.button))
            compare(button.height, DpiSettings.scaling(data.button))
            compare(button.radius, DpiSettings.scaling(8))
            const icon = findChild(button, "icon")
            compare(icon.width, DpiSettings.scaling(data.icon))
            compare(icon.height, DpiSettings.scaling(data.icon))
            compare(icon.x, (button.width - icon.width) / 2, "icon centred")
        }

        function test_defaultSizeIsM() {
            const button = createTemporaryObject(buttonComponent, root)
            compare(button.size, "m")
            compare(button.width, DpiSettings.scaling(48))
            // Size "m" leaves the icon size to the user: unset, there is no icon.
            compare(findChild(button, "icon").width, 0)
            button.imageWidth = 30
            button.imageHeight = 18
            compare(findChild(button, "icon").width, 30)
            compare(findChild(button, "icon").height, 18)
        }

        function test_iconReadOnceShown_data() {
            return [
                { tag: "hidden button", button: false, parent: true, read: false },
                { tag: "shown button in a hidden parent", button: true, parent: false, read: false },
                { tag: "shown button", button: true, parent: true, read: true }
            ]
        }

        function test_iconReadOnceShown(data) {
            const holder = createTemporaryObject(holderComponent, root, { visible: data.parent })
            const button = createTemporaryObject(buttonComponent, holder, { size: "xl", visible: data.button })
            const icon = findChild(button, "icon")
            compare(String(icon.source), data.read ? "qrc:/icons/close.svg" : "")
            compare(icon.status, data.read ? Image.Ready : Image.Null)
            holder.visible = true
            button.visible = true
            compare(String(icon.source), "qrc:/icons/close.svg", "read as soon as it shows")
            compare(icon.status, Image.Ready)
        }

        function test_sizeChangesAtRuntime() {
            const button = createTemporaryObject(buttonComponent, root, { size: "xl" })
            compare(button.width, DpiSettings.scaling(64))
            button.size = "xs"
            compare(button.width, DpiSettings.scaling(32))
            compare(button.imageWidth, DpiSettings.scaling(20))
        }

        function test_type_data() {
            return [
                { tag: "none", type: "", enabled: Theme.colorBackgroundBasic,
                  pressed: Theme.colorBackgroundMain, disabled: Theme.colorBackgroundBasic, tint: false },
                { tag: "primary", type: "primary", enabled: Theme.colorBackgroundPrimary,
                  pressed: Theme.colorBackgroundSecondary, disabled: Theme.colorBackgroundAdditive, tint: false },
                { tag: "primary-blue", type: "primary-blue", enabled: Theme.colorBrand,
                  pressed: Theme.colorBrandDark, disabled: Theme.colorBackgroundAdditive, tint: false },
                { tag: "clear", type: "clear", enabled: "#00000000",
                  pressed: "#00000000", disabled: "#00000000", tint: false },
                { tag: "stroke-blue", type: "stroke-blue", enabled: "#00000000",
                  pressed: "#00000000", disabled: "#00000000", tint: true }
            ]
        }

        function test_type(data) {
            const button = createTemporaryObject(buttonComponent, root, { type: data.type, size: "l" })
            compare(root.hex(button.enabledColor), root.hex(data.enabled))
            compare(root.hex(button.pressedColor), root.hex(data.pressed))
            compare(root.hex(button.disabledColor), root.hex(data.disabled))
            compare(button.coloredImage, data.tint)
            if (data.tint)
                compare(root.hex(button.colorImage), root.hex(Theme.colorBrand))

            compare(root.hex(button.color), root.hex(data.enabled))
            const pressedOverlay = findChild(button, "pressedOverlay")
            verify(!pressedOverlay.visible)

            mousePress(button, button.width / 2, button.height / 2)
            compare(root.hex(button.color), root.hex(data.pressed))
            compare(pressedOverlay.visible, data.tint, "tint only while pressed, only when asked for")
            if (data.tint)
                compare(root.hex(pressedOverlay.color), root.hex(Theme.colorBrand))
            mouseRelease(button, button.width / 2, button.height / 2)
            compare(root.hex(button.color), root.hex(data.enabled))
            verify(!pressedOverlay.visible)
            compare(clickedSpy.count, 0, "spy not attached")

            button.enabled = false
            compare(root.hex(button.color), root.hex(data.disabled))
        }

        function test_pressDraggedOutsideShowsEnabledColour() {
            const button = createTemporaryObject(buttonComponent, root, { type: "primary-blue", x: 100, y: 100 })
            mousePress(button, 10, 10)
            compare(root.hex(button.color), root.hex(Theme.colorBrandDark))
            mouseMove(button, button.width + 30, button.height + 30)
            compare(root.hex(button.color), root.hex(Theme.colorBrand))
            mouseRelease(button, button.width + 30, button.height + 30)
        }

        function test_clicked() {
            const button = createTemporaryObject(buttonComponent, root, { size: "s" })
            clickedSpy.target = button
            mouseClick(button)
            compare(clickedSpy.count, 1)
            verify(clickedSpy.signalArguments[0][0] !== undefined, "carries the mouse event")
        }

        function test_disabledTakesNoClicks() {
            const button = createTemporaryObject(buttonComponent, root, { type: "primary" })
            clickedSpy.target = button
            button.enabled = false
            compare(root.hex(button.color), root.hex(Theme.colorBackgroundAdditive))
            mouseClick(button)
            compare(clickedSpy.count, 0)
            mousePress(button)
            compare(root.hex(button.color), root.hex(Theme.colorBackgroundAdditive))
            mouseRelease(button)
        }

        function test_lightThemeOverlay() {
            const button = createTemporaryObject(buttonComponent, root, { size: "xl", type: "stroke-blue" })
            const overlay = findChild(button, "lightThemeOverlay")
            verify(!overlay.visible)
            Theme.theme = "light"
            verify(overlay.visible)
            compare(root.hex(overlay.color), "#404040")
            // Drawn above the pressed tint.
            verify(overlay.z >= findChild(button, "pressedOverlay").z)
            Theme.theme = "dark"
            verify(!overlay.visible)
        }
    }

    TestCase {
        name: "QVWaiter"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function test_defaults() {
            const waiter = createTemporaryObject(waiterComponent, root)
            compare(waiter.width, 120)
            compare(waiter.height, 120)
            compare(root.hex(waiter.firstArcColor), root.hex(Theme.colorBrandDark))
            compare(root.hex(waiter.secondArcColor), root.hex(Theme.colorBrand))
            compare(root.hex(waiter.thirdArcColor), root.hex(Theme.colorBrandLight))
        }

        function test_animatesOnlyWhileVisible() {
            const waiter = createTemporaryObject(waiterComponent, root)
            tryVerify(() => waiter.angle > 200, 2000, "turns while visible")
            waiter.visible = false
            const stoppedAt = waiter.angle
            wait(300)
            compare(waiter.angle, stoppedAt, "still while hidden")

            // Shown again it starts over from 0 rather than going on from 200+.
            waiter.visible = true
            tryVerify(() => waiter.angle < 100, 250)
            tryVerify(() => waiter.angle > 0, 1000)
        }

        function test_hiddenParentStopsIt() {
            const holder = createTemporaryQmlObject("import QtQuick; Item { visible: false }", root)
            const waiter = waiterComponent.createObject(holder)
            wait(200)
            compare(waiter.angle, 0)
            holder.visible = true
            tryVerify(() => waiter.angle > 0, 1000)
        }
    }

    TestCase {
        name: "QVWaitingDialog"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function addressTexts(dialog) {
            const column = findChild(dialog.contentItem, "waitingAddresses")
            const texts = []
            for (let i = 0; i < column.children.length; ++i) {
                const child = column.children[i]
                if (child.objectName === "waitingAddress")
                    texts.push(child.text)
            }
            return texts
        }

        function test_frame() {
            const dialog = createTemporaryObject(waitingDialogComponent, root)
            verify(dialog.modal)
            compare(dialog.closePolicy, Popup.NoAutoClose)
            compare(dialog.padding, 0)
            dialog.open()
            verify(dialog.opened)
            const card = findChild(dialog.contentItem.parent, "waitingCard") || dialog.contentItem
            compare(root.hex(card.color), root.hex(Theme.colorBackgroundPrimary))
            compare(dialog.width, card.width)
            compare(dialog.height, card.height)
            compare(dialog.x, (root.width - dialog.width) / 2)
            compare(dialog.y, (root.height - dialog.height) / 2)
            const close = findChild(card, "waitingCloseButton")
            verify(!close.visible, "the customer cannot close it")
            compare(close.size, "xs")
            compare(close.type, "clear")
            verify(findChild(card, "waitingSpinner").visible)
            compare(findChild(card, "waitingTitle").text, "Ожидание подключения")
            dialog.close()
        }

        function test_noAutomaticClose() {
            const dialog = createTemporaryObject(waitingDialogComponent, root)
            dialog.open()
            verify(dialog.opened)
            keyClick(Qt.Key_Escape)
            verify(dialog.opened, "Escape leaves it open")
            mouseClick(root, 5, 5)
            verify(dialog.opened, "a press outside leaves it open")
            mouseClick(root, root.width - 5, root.height - 5)
            verify(dialog.opened)
            dialog.close()
            verify(!dialog.opened)
        }

        function test_addresses() {
            const dialog = createTemporaryObject(waitingDialogComponent, root)
            dialog.open()
            compare(addressTexts(dialog), [], "no address: only the heading")
            dialog.appIp = [{ address: "192.168.1.20" }, { address: "10.0.0.5" }]
            compare(addressTexts(dialog), ["192.168.1.20", "10.0.0.5"])
            dialog.appIp = [{ address: "172.16.0.9" }]
            compare(addressTexts(dialog), ["172.16.0.9"], "replaced at once")
            dialog.appIp = [{ address: 5 }, {}, null]
            compare(addressTexts(dialog), ["5", "", ""], "odd entries show no error")
            dialog.close()
        }

        function test_portProblem_data() {
            return [
                { tag: "listening", listening: true, busy: false, missing: false, text: "" },
                { tag: "port held by another program", listening: false, busy: true, missing: false,
                  text: "Порт 30058 занят" },
                { tag: "--listen address not on the machine yet", listening: false, busy: false, missing: true,
                  text: "Адрес ещё не появился на этом компьютере, ожидание" },
                { tag: "any other failure", listening: false, busy: false, missing: false,
                  text: "Порт 30058 недоступен" }
            ]
        }

        function test_portProblem(data) {
            const dialog = createTemporaryObject(waitingDialogComponent, root,
                                                 { listening: data.listening, portBusy: data.busy,
                                                   addressMissing: data.missing })
            dialog.open()
            const line = findChild(dialog.contentItem, "waitingPortProblem")
            compare(line.visible, data.text !== "")
            if (data.text !== "")
                compare(line.text, data.text)
            dialog.close()
        }

        function test_manyAddressesStayOnTheCard() {
            const dialog = createTemporaryObject(waitingDialogComponent, root, { listening: false, portBusy: true })
            const list = []
            for (let i = 0; i < 20; ++i)
                list.push({ address: "10.0.0." + i })
            dialog.appIp = list
            dialog.open()
            compare(addressTexts(dialog).length, 6, "the first few")
            const more = findChild(dialog.contentItem, "waitingMoreAddresses")
            verify(more.visible)
            compare(more.text, "и ещё 14")
            tryVerify(() => dialog.height > DpiSettings.scaling(252), 5000, "the card grows with it")
            const port = findChild(dialog.contentItem, "waitingPortProblem")
            verify(port.visible)
            verify(port.mapToItem(dialog.contentItem, 0, port.height).y <= dialog.height - DpiSettings.scaling(24),
                   "the busy-port line too lies on the card")
            verify(dialog.height <= root.height)
            dialog.appIp = list.slice(0, 1)
            dialog.listening = true
            verify(!more.visible)
            tryCompare(dialog, "height", DpiSettings.scaling(252), 1000, "back to its designed height")
            dialog.close()
        }
    }

    TestCase {
        name: "LazyEffects"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function cleanup() {
            Theme.theme = "dark"
        }

        function test_softwareSceneGraphLoadsNoEffect() {
            const blur = createTemporaryObject(backdropComponent, root, { source: root, radius: 48 })
            if (blur.GraphicsInfo.api !== GraphicsInfo.Software)
                skip("shader effects are drawn here")
            verify(!blur.effectsDrawn)
            verify(blur.visible)
            compare(findChild(blur, "blurEffect").status, Loader.Null, "not drawn, so not loaded")
            const button = createTemporaryObject(buttonComponent, root, { type: "stroke-blue" })
            mousePress(button)
            verify(findChild(button, "pressedOverlay").visible)
            compare(findChild(findChild(button, "pressedOverlay"), "tintEffect").status, Loader.Null)
            mouseRelease(button)
        }

        function test_backdropBlur_data() {
            return [
                { tag: "shown where effects are drawn", drawn: true, visible: true, loaded: true },
                { tag: "hidden", drawn: true, visible: false, loaded: false },
                { tag: "shown, but effects are not drawn", drawn: false, visible: true, loaded: false },
                { tag: "hidden, effects not drawn", drawn: false, visible: false, loaded: false }
            ]
        }

        function test_backdropBlur(data) {
            const blur = createTemporaryObject(backdropComponent, root, {
                source: root, radius: 48, width: 320, height: 200,
                effectsDrawn: data.drawn, visible: data.visible })
            const effect = findChild(blur, "blurEffect")
            compare(effect.status, data.loaded ? Loader.Ready : Loader.Null)
            if (!data.loaded)
                return
            compare(effect.item.source, root)
            compare(effect.item.radius, 48)
            compare(effect.item.width, 320)
            compare(effect.item.height, 200)
            blur.radius = 12
            compare(effect.item.radius, 12, "follows the radius")
            blur.source = null
            compare(effect.item.source, null, "follows the source")
        }

        function test_backdropBlurReleasedWhileHidden() {
            const blur = createTemporaryObject(backdropComponent, root, {
                source: root, radius: 48, effectsDrawn: true })
            const effect = findChild(blur, "blurEffect")
            for (let i = 0; i < 3; ++i) {
                compare(effect.status, Loader.Ready)
                blur.visible = false
                compare(effect.status, Loader.Null, "a hidden blur holds no layers")
                compare(effect.item, null)
                blur.visible = true
            }
            compare(effect.item.radius, 48, "built again with the same settings")
        }

        function test_iconTint_data() {
            return [
                { tag: "pressed tint while pressed", name: "pressedOverlay", type: "stroke-blue",
                  theme: "dark", press: true, colour: Theme.colorBrand },
                { tag: "pressed tint, not pressed", name: "pressedOverlay", type: "stroke-blue",
                  theme: "dark", press: false, colour: undefined },
                { tag: "pressed tint, not asked for", name: "pressedOverlay", type: "primary",
                  theme: "dark", press: true, colour: undefined },
                { tag: "light theme tint", name: "lightThemeOverlay", type: "",
                  theme: "light", press: false, colour: "#404040" },
                { tag: "light theme tint, dark theme", name: "lightThemeOverlay", type: "",
                  theme: "dark", press: false, colour: undefined }
            ]
        }

        function test_iconTint(data) {
            Theme.theme = data.theme
            const button = createTemporaryObject(buttonComponent, root, { size: "xl", type: data.type })
            const tint = findChild(button, data.name)
            tint.effectsDrawn = true
            const effect = findChild(tint, "tintEffect")
            if (data.press)
                mousePress(button)
            compare(effect.status, data.colour !== undefined ? Loader.Ready : Loader.Null)
            if (data.colour !== undefined) {
                compare(root.hex(effect.item.color), root.hex(data.colour))
                compare(effect.item.source, findChild(button, "icon"))
                compare(effect.item.width, findChild(button, "icon").width)
            }
            if (data.press) {
                mouseRelease(button)
                if (data.name === "pressedOverlay")
                    compare(effect.status, Loader.Null, "released: the tint goes")
            }
        }
    }
}
