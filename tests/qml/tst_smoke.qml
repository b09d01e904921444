import QtQuick
import QtTest
import "qrc:/qt/qml/qv4App/QVUI/Shared"

TestCase {
    name: "Smoke"

    function test_scalingBelowThreshold() {
        compare(DpiSettings.scaling(48), DpiSettings.dpi < 120 ? 48 : 48 * DpiSettings.dpi / 160)
    }
}
