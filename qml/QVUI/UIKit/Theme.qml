pragma Singleton
import QtQuick

QtObject {
    readonly property color colorTextCaption: "#9DA4AE"
    readonly property color colorBackgroundSecondary: "#252525"
}
