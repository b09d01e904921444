import QtQuick
import QtTest
import qv4App

Item {
    id: root

    function hex(color) {
        return String(color).toLowerCase()
    }

    TestCase {
        name: "Utils"

        function init() {
            failOnWarning(/.?/)
        }

        function test_formatMoney_data() {
            return [
                { tag: "zero", money: 0, text: "0,00" },
                { tag: "five kopecks", money: 5, text: "0,05" },
                { tag: "ten kopecks", money: 10, text: "0,10" },
                { tag: "one rouble", money: 100, text: "1,00" },
                { tag: "hundred twenty", money: 12000, text: "120,00" },
                { tag: "one thousand", money: 100000, text: "1 000,00" },
                { tag: "millions", money: 123456789, text: "1 234 567,89" },
                { tag: "negative", money: -250, text: "-2,50" },
                { tag: "negative thousands", money: -123456789, text: "-1 234 567,89" },
                { tag: "negative below a rouble", money: -5, text: "-0,05" },
                { tag: "six digits", money: 12345678, text: "123 456,78" },
                { tag: "exactly a million", money: 100000000, text: "1 000 000,00" },
                { tag: "half a kopeck rounds up", money: 1250.5, text: "12,51" },
                { tag: "below half rounds down", money: 1250.49, text: "12,50" },
                { tag: "negative half rounds away from zero", money: -1250.5, text: "-12,51" },
                { tag: "rounding carries into roubles", money: 199.6, text: "2,00" },
                { tag: "rounding carries into a group", money: 99999999.5, text: "1 000 000,00" },
                { tag: "fraction of a kopeck to zero", money: -0.4, text: "0,00" },
                { tag: "string of digits", money: "150000", text: "1 500,00" },
                { tag: "undefined", money: undefined, text: "0,00" },
                { tag: "not a number", money: NaN, text: "0,00" }
            ]
        }

        function test_formatMoney(data) {
            compare(Utils.formatMoney(data.money), data.text)
        }

        function test_formatQuantity_data() {
            return [
                { tag: "integer", quantity: 2, text: "2" },
                { tag: "one and a half", quantity: 1.5, text: "1.5" },
                { tag: "six significant digits", quantity: 0.3333333, text: "0.333333" },
                { tag: "rounded to six digits", quantity: 2.0000001, text: "2" },
                { tag: "large", quantity: 1234567, text: "1.23457e+06" },
                { tag: "largest plain", quantity: 999999, text: "999999" },
                { tag: "rounded into exponent form", quantity: 999999.7, text: "1e+06" },
                { tag: "small", quantity: 0.00001, text: "1e-05" },
                { tag: "smallest plain", quantity: 0.0001, text: "0.0001" },
                { tag: "negative", quantity: -1.25, text: "-1.25" },
                { tag: "zero", quantity: 0, text: "0" },
                { tag: "numeric text", quantity: "3", text: "3" },
                { tag: "missing", quantity: undefined, text: "" }
            ]
        }

        function test_formatQuantity(data) {
            compare(Utils.formatQuantity(data.quantity), data.text)
        }
    }

    TestCase {
        name: "DpiSettings"

        function init() {
            failOnWarning(/.?/)
        }

        function test_scalingAt_data() {
            return [
                { tag: "96 dpi", dpi: 96, expected: 48 },
                { tag: "119.9 dpi", dpi: 119.9, expected: 48 },
                { tag: "120 dpi", dpi: 120, expected: 36 },
                { tag: "144 dpi", dpi: 144, expected: 43.2 },
                { tag: "160 dpi", dpi: 160, expected: 48 },
                { tag: "192 dpi", dpi: 192, expected: 57.6 }
            ]
        }

        function test_scalingAt(data) {
            fuzzyCompare(DpiSettings.scalingAt(48, data.dpi), data.expected, 1e-9)
        }

        function test_scalingIsNotRounded() {
            compare(DpiSettings.scalingAt(1, 144), 0.9)
        }
    }

    QVFonts {
        id: fonts
    }

    TestCase {
        name: "QVFonts"

        function test_onest() {
            tryCompare(fonts, "onest", "Onest")
            // Both files, the regular and the semi-bold, register under one family,
            // so that weight 600 picks the semi-bold file.
            verify(Qt.fontFamilies().indexOf("Onest") >= 0)
        }
    }

    Component {
        id: buttonComponent
        ImageButton {
            source: "qrc:/icons/close.svg"
        }
    }

    TestCase {
        name: "Theme"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
        }

        function cleanup() {
            Theme.theme = "dark"
        }

        // A document's colour follows the switch, and comes back with it.
        function test_documentsFollowTheTheme() {
            const button = createTemporaryObject(buttonComponent, root)
            verify(button)
            const dark = root.hex(button.color)
            Theme.theme = "light"
            verify(root.hex(button.color) !== dark)
            compare(root.hex(button.color), root.hex(Theme.colorBackgroundBasic))
            Theme.theme = "dark"
            compare(root.hex(button.color), dark)
        }

        function test_isDark() {
            compare(Theme.theme, "dark")
            compare(Theme.state, "dark")
            verify(Theme.isDark)
            Theme.theme = "light"
            compare(Theme.state, "light")
            verify(!Theme.isDark)
        }
    }
}
