pragma Singleton
import QtQuick

QtObject {
    // The sign written after every amount.
    readonly property string currency: "₽"

    // Fraction digits of a money amount.
    readonly property int fractionalCount: 2

    // The largest amount shown, in minor units (99 999 999,99): beyond it
    // digits would no longer be digits (an exponent) nor fit a column.
    readonly property real maximumMoney: 9999999999

    // Minor units (hundredths) to "1 234 567,89". Amounts with a fraction of a
    // minor unit are first rounded to the nearest one, half away from zero;
    // larger ones than maximumMoney show as it.
    function formatMoney(money) {
        let value = Number(money)
        if (isNaN(value))
            value = 0
        const unit = Math.pow(10, fractionalCount)
        const magnitude = Math.min(Math.round(Math.abs(value)), maximumMoney)
        const negative = value < 0 && magnitude > 0

        const fraction = magnitude % unit
        let fractionText = String(fraction)
        while (fractionText.length < fractionalCount)
            fractionText = "0" + fractionText

        // Grouped by hand: Qt 6.4's engine mis-handles the usual look-ahead regex.
        const whole = ((magnitude - fraction) / unit).toFixed(0)
        let wholeText = ""
        for (let i = 0; i < whole.length; ++i) {
            if (i > 0 && (whole.length - i) % 3 === 0)
                wholeText += " "
            wholeText += whole[i]
        }
        return (negative ? "-" : "") + wholeText + "," + fractionText
    }

    // A percentage: the shortest decimal that reads back as the value, cut
    // to five characters; within -999..999 and never in exponent form.
    function formatPercent(value) {
        let number = Number(value)
        if (isNaN(number))
            number = 0
        number = Math.max(-999, Math.min(999, number))
        if (Math.abs(number) < 1e-6)
            number = 0
        return String(number).substring(0, 5)
    }

    // Text from the terminal, isolated for bidirectional layout, so that it
    // cannot reorder the display's own text around it. Its own embeddings,
    // overrides and isolates go first: a PDI in it would end the isolate
    // early and let an override after it turn what follows around.
    function isolate(text) {
        const plain = text === undefined || text === null ? "" : String(text)
        return "\u2068" + plain.replace(/[\u202A-\u202E\u2066-\u2069]/g, "") + "\u2069"
    }

    // A count in the general format with at most six significant digits,
    // as printf's "%g" writes it: 2 -> "2", 1.5 -> "1.5", 1234567 -> "1.23457e+06".
    function formatQuantity(quantity) {
        if (quantity === undefined || quantity === null)
            return ""
        const value = Number(quantity)
        if (typeof quantity !== "number" && (String(quantity).trim() === "" || !isFinite(value)))
            return String(quantity)
        if (!isFinite(value))
            return String(value)
        if (value === 0)
            return "0"
        // The C locale: a point, no grouping, as "%g".
        return value.toLocaleString(Qt.locale("C"), "g", 6)
    }
}
