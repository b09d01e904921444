import QtQuick
import QtQuick.Controls.Basic
import qv4App

// Upper panel of the right-hand column: a greeting while the receipt is
// empty, otherwise the client and the receipt lines.
Rectangle {
    id: _panel

    property var receiptItemsModel
    required property Client client
    property var logo

    radius: DpiSettings.scaling(12)
    color: Theme.colorBackgroundPrimary

    Column {
        id: _welcome
        objectName: "welcomeView"
        x: DpiSettings.scaling(24)
        y: (_panel.height - height) / 2
        width: _panel.width - DpiSettings.scaling(48)
        spacing: DpiSettings.scaling(40)
        visible: _list.count === 0

        Image {
            objectName: "logoImage"
            anchors.horizontalCenter: parent.horizontalCenter
            width: DpiSettings.scaling(168)
            height: DpiSettings.scaling(88)
            fillMode: Image.PreserveAspectFit
            sourceSize.width: DpiSettings.decodedPixels(width)
            sourceSize.height: DpiSettings.decodedPixels(height)
            // Even a local file: a heavy one would hold the window still while it decodes.
            asynchronous: true
            source: _panel.logo !== undefined && _panel.logo !== null && String(_panel.logo) !== ""
                    ? _panel.logo : ""
        }

        Label {
            objectName: "welcomeLabel"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: DpiSettings.scaling(24)
            font.weight: Font.DemiBold
            color: Theme.colorTextPrimary
            text: qsTr("Добро пожаловать!")
        }
    }

    Column {
        objectName: "receiptView"
        x: DpiSettings.scaling(24)
        y: DpiSettings.scaling(24)
        width: _panel.width - DpiSettings.scaling(48)
        spacing: DpiSettings.scaling(18)
        visible: _list.count > 0

        ClientInfoView {
            id: _client
            objectName: "clientInfoView"
            width: parent.width
            client: _panel.client
        }

        ListView {
            id: _list
            objectName: "receiptList"
            width: parent.width
            height: _panel.height - (_client.visible ? DpiSettings.scaling(152) : DpiSettings.scaling(48))
            model: _panel.receiptItemsModel
            spacing: DpiSettings.scaling(10)
            clip: true
            orientation: ListView.Vertical
            interactive: true
            boundsBehavior: Flickable.StopAtBounds
            // No lines made ahead of the view: after each reset the list
            // would fill that buffer a moment later and draw the whole
            // window once more for it.
            cacheBuffer: 0

            delegate: ItemViewDelegate {
                width: ListView.view.width - DpiSettings.scaling(12)
            }

            // In the margin the lines leave free: shown for as long as lines
            // lie beyond the view, so that a receipt sent whole says it goes on.
            ScrollIndicator.vertical: ScrollIndicator {
                objectName: "receiptScrollIndicator"
                active: _list.contentHeight > _list.height + 1
            }
        }
    }

    // Every "order" replaces the whole list, which would put the view back at
    // its top each time. Instead it keeps its place and shows, fully, the line
    // just added or whose quantity changed, with the lines above it filling
    // the panel; another receipt, or a shorter list, starts from the top. A
    // customer's flick stands until the next message.
    ReceiptFollow {
        id: _follow

        property int topRow: -1
        property real topOffset: 0

        model: _panel.receiptItemsModel || null

        onAboutToReplace: {
            topRow = _list.indexAt(1, _list.contentY)
            if (topRow < 0)
                topRow = _list.indexAt(1, _list.contentY + _list.spacing + 1)
            topOffset = 0
            if (topRow >= 0) {
                const top = _list.itemAtIndex(topRow)
                if (top !== null)
                    topOffset = _list.contentY - top.y
            }
        }

        onReplaced: row => {
            if (_list.count === 0)
                return
            if (row === ReceiptFollow.FromTop) {
                _list.positionViewAtBeginning()
                return
            }
            if (topRow >= 0 && topRow < _list.count) {
                _list.positionViewAtIndex(topRow, ListView.Beginning)
                const end = _list.originY + _list.contentHeight - _list.height
                _list.contentY = Math.max(_list.originY, Math.min(_list.contentY + topOffset, end))
            }
            // Lines not laid out yet have estimated places, which the first
            // pass corrects; the second then places the line exactly.
            if (row >= 0) {
                _list.positionViewAtIndex(row, ListView.Contain)
                _list.positionViewAtIndex(row, ListView.Contain)
            }
        }
    }
}
