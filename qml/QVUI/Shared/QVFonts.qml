import QtQuick

Item {
    readonly property string onest: _regular.name

    FontLoader {
        id: _regular
        source: "qrc:/fonts/Onest/Onest.ttf"
    }
    FontLoader {
        source: "qrc:/fonts/Onest/Onest-SemiBold.ttf"
    }
}
