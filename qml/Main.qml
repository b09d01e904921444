import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Window

import "QVUI/Shared"
import "QVUI/UIKit"

ApplicationWindow {
    id: _app

    width: 1280
    height: 776
    visible: true
    title: qsTr("QUORVEX ORDER SCREEN V4")
    font.family: "Onest"
    visibility: appCore.appEnv.useFullScreen ? Window.FullScreen : Window.AutomaticVisibility

    background: Rectangle {
        color: Theme.colorBackgroundSecondary
    }

    Label {
        id: _versionLabel
        objectName: "versionLabel"
        x: DpiSettings.scaling(10)
        y: _app.contentItem.height - DpiSettings.scaling(20)
        font.pixelSize: DpiSettings.scaling(12)
        font.weight: Font.Normal
        color: Theme.colorTextCaption
        text: qsTr("Версия приложения %1").arg(appCore.appEnv.longVersionString)
    }

    QVFonts {
    }
}
