import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Window

import qv4App

ApplicationWindow {
    id: _app

    // The display's core, given in the context as "appCore" and read here only.
    readonly property AppCore core: appCore // qmllint disable unqualified
    // Its parts, made with it and kept for the run.
    readonly property AppEnv env: core.appEnv
    readonly property NetworkService network: core.networkService
    readonly property PicturePreloader pictures: core.pictures
    // The records the panels are handed. Each announces its own change, so
    // what is bound to a figure of theirs follows every write.
    readonly property Order order: env.order
    readonly property Client client: env.client

    // Designed for 1280 × 776; on a smaller screen the window opens at the
    // screen's available size instead, so that none of it lies off-screen.
    width: Screen.desktopAvailableWidth > 0 ? Math.min(1280, Screen.desktopAvailableWidth) : 1280
    height: Screen.desktopAvailableHeight > 0 ? Math.min(776, Screen.desktopAvailableHeight) : 776
    visible: true
    title: qsTr("QUORVEX ORDER SCREEN V4")
    font.family: "Onest"
    visibility: _app.env.useFullScreen ? Window.FullScreen : Window.AutomaticVisibility

    // Taller than wide: the promo across the top, the receipt and the totals
    // across the bottom. Each layout has its own design size, which --scale
    // fit fills.
    readonly property bool portrait: height > width
    readonly property size designSize: portrait ? Qt.size(720, 1280) : Qt.size(1280, 776)
    // --scale: "dpi", "fit" or a factor.
    property string screenScale: "dpi"

    Binding {
        target: DpiSettings
        property: "factor"
        value: _app.screenScale === "fit"
               ? Math.min(_app.width / _app.designSize.width, _app.height / _app.designSize.height)
               : Number(_app.screenScale)
        when: _app.screenScale !== "dpi" && _app.width > 0 && _app.height > 0
        restoreMode: Binding.RestoreBindingOrValue
    }

    background: Rectangle {
        color: Theme.colorBackgroundSecondary
    }

    // Full screen covers the screen also where no window manager acts on the
    // request (a kiosk started bare, with xinit and the display alone). The
    // window's own screen: a Binding's Screen would be the primary one.
    Binding {
        target: _app
        property: "x"
        value: _app.Screen.virtualX
        when: _app.env.useFullScreen
        restoreMode: Binding.RestoreBindingOrValue
    }
    Binding {
        target: _app
        property: "y"
        value: _app.Screen.virtualY
        when: _app.env.useFullScreen
        restoreMode: Binding.RestoreBindingOrValue
    }
    Binding {
        target: _app
        property: "width"
        value: _app.Screen.width
        when: _app.env.useFullScreen
        restoreMode: Binding.RestoreBindingOrValue
    }
    Binding {
        target: _app
        property: "height"
        value: _app.Screen.height
        when: _app.env.useFullScreen
        restoreMode: Binding.RestoreBindingOrValue
    }

    PromoImages {
        id: _promoImages
        objectName: "promoImages"
        width: parent.width
        // Landscape, the panel lies over the picture's right side; portrait,
        // the picture ends above it.
        height: _app.portrait ? _rightColumn.y - DpiSettings.scaling(8) : parent.height
        // Only the pictures that have loaded: a failing one never leaves a hole.
        images: _app.pictures.promoImagesToShow
        onPictureFailed: url => _app.pictures.failedToShow(url)
    }

    Column {
        id: _rightColumn
        objectName: "rightColumn"
        x: _app.portrait ? DpiSettings.scaling(8) : _app.contentItem.width - width - DpiSettings.scaling(8)
        y: _app.portrait ? _app.contentItem.height - height - DpiSettings.scaling(8) : DpiSettings.scaling(8)
        width: _app.portrait ? _app.contentItem.width - DpiSettings.scaling(16) : DpiSettings.scaling(428)
        height: _app.portrait ? Math.min(DpiSettings.scaling(814), _app.contentItem.height - DpiSettings.scaling(16))
                              : _app.contentItem.height - DpiSettings.scaling(16)

        ReceiptItemsWidget {
            objectName: "receiptItemsWidget"
            width: parent.width
            height: parent.height - _orderPriceWidget.height
            receiptItemsModel: _app.env.receiptItemModel
            client: _app.client
            logo: _app.pictures.logo
        }

        OrderPriceWidget {
            id: _orderPriceWidget
            objectName: "orderPriceWidget"
            width: parent.width
            height: DpiSettings.scaling(104)
            order: _app.order
        }
    }

    Label {
        id: _versionLabel
        objectName: "versionLabel"
        x: DpiSettings.scaling(10)
        y: _promoImages.height - DpiSettings.scaling(20)
        font.pixelSize: DpiSettings.scaling(12)
        font.weight: Font.Normal
        color: Theme.colorTextCaption
        text: qsTr("Версия приложения %1").arg(_app.env.longVersionString)
    }

    QVFonts {
    }

    QVWaitingDialog {
        id: _waitingDialog
        objectName: "waitingDialog"
        backgroundItem: _app.contentItem
        appIp: _app.network.avaliableIps
        listening: _app.network.listening
        portBusy: _app.network.portBusy
        addressMissing: _app.network.addressMissing
        port: _app.network.port
    }

    QRPaymentDialog {
        id: _qrPaymentDialog
        objectName: "qrPaymentDialog"
        backgroundItem: _app.contentItem
        qrCodeTable: _app.order.qrCodeTable
        amount: _app.order.receiptPaymentAmount
        discount: _app.order.receiptPaymentDiscount
        bonus: _app.order.replenishmentBonus
    }

    PaymentDialog {
        id: _paymentDialog
        objectName: "paymentDialog"
        backgroundItem: _app.contentItem
        amount: _app.order.receiptPaymentAmount
    }

    // Up while the terminal's word on the payment is shown; the display's
    // own rules end it (a few seconds, the next customer, a dead link).
    PaymentOutcomeDialog {
        id: _outcomeDialog
        objectName: "paymentOutcomeDialog"
        backgroundItem: _app.contentItem
        outcome: _app.env.paymentOutcome
    }

    Connections {
        target: _app.network

        function onTerminalConnected() {
            _waitingDialog.close()
        }
        function onTerminalDisconnected() {
            _waitingDialog.open()
        }
    }

    // At most one payment dialog is open; a show signal for the open one changes nothing.
    // A dialog asked for after a quiet spell opens at once, and closing is
    // never held back; but a terminal flapping the dialogs has its latest
    // request opened every 100 ms rather than each one, since every opening
    // rebuilds the overlay and repaints the whole window.
    property string _paymentWanted: "" // "", "qr" or "card"
    property bool _paymentPending: false

    function _requestPayment(which: string) {
        _app._paymentWanted = which
        if (which !== "" && _paymentPace.running) {
            _app._paymentPending = true
            return
        }
        _app._applyPayment()
        if (which !== "")
            _paymentPace.start()
    }

    function _applyPayment() {
        _app._paymentPending = false
        if (_app._paymentWanted !== "qr" && _qrPaymentDialog.opened)
            _qrPaymentDialog.close()
        if (_app._paymentWanted !== "card" && _paymentDialog.opened)
            _paymentDialog.close()
        if (_app._paymentWanted === "qr" && !_qrPaymentDialog.opened)
            _qrPaymentDialog.open()
        if (_app._paymentWanted === "card" && !_paymentDialog.opened)
            _paymentDialog.open()
    }

    Timer {
        id: _paymentPace
        interval: 100
        onTriggered: {
            if (_app._paymentPending) {
                _app._applyPayment()
                start()
            }
        }
    }

    Connections {
        target: _app.env

        function onClosePaymentDialogs() {
            _app._requestPayment("")
        }
        function onShowQRPaymentDialog() {
            _app._requestPayment("qr")
        }
        function onShowPaymentDialog() {
            _app._requestPayment("card")
        }
        function onPaymentOutcomeChanged() {
            if (_app.env.paymentOutcome !== "")
                _outcomeDialog.open()
            else if (_outcomeDialog.opened)
                _outcomeDialog.close()
        }
    }

    Component.onCompleted: _waitingDialog.open()
}
