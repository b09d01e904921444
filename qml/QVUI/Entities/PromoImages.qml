import QtQuick

// Full-window slideshow of the promotional images that are due now, with a
// cross-fade from each picture to the next.
Item {
    id: _image

    // Entries {"url", "timeout" (seconds)} in display order.
    property var images: []
    property int currentIndex: 0
    // Display time of the entry resolved last, in milliseconds.
    property int showInterval: 10000
    property int transitionDuration: 500
    readonly property size pictureSize: Qt.size(Math.ceil(width), Math.ceil(height))

    // Used when an entry has no positive "timeout": an interval of 0 would
    // fire on every event-loop turn and restart the cross-fade forever.
    readonly property int defaultShowInterval: 10000

    // True once a cross-fade has finished: from then on the two pictures are
    // assigned by the cross-fade, and a new list takes effect at the next one.
    property bool _crossFaded: false

    function _count() {
        return images && images.length > 0 ? images.length : 0
    }

    function getImageUrl(index) {
        const count = _count()
        if (count === 0)
            return ""
        // Indices are always taken within the current list.
        const entry = images[((index % count) + count) % count]
        const valid = entry !== null && typeof entry === "object"

        const timeout = valid ? Number(entry.timeout) : 0
        showInterval = timeout > 0 ? Math.min(Math.round(timeout * 1000), 2147483647) || 1
                                   : defaultShowInterval

        const url = valid ? entry.url : undefined
        return url === undefined || url === null ? "" : String(url)
    }

    function nextImage() {
        if (_count() <= 1)
            return
        _crossFadeAnimation.start()
    }

    // The pictures as first declared: the entry at currentIndex and, behind
    // it, the one after it. The preloaded one is resolved last, so its
    // timeout is the one in force.
    function _showDeclared() {
        const count = _count()
        _mainImage.source = count > 0 ? getImageUrl(currentIndex) : ""
        _nextImage.source = count > 1 ? getImageUrl(currentIndex + 1) : ""
    }

    function _imagesReplaced() {
        const count = _count()
        if (count === 0) {
            // The terminal went away (or nothing is due): no picture at all.
            _crossFadeAnimation.stop()
            currentIndex = 0
            _crossFaded = false
            _mainImage.opacity = 1
            _nextImage.opacity = 0
            _showDeclared()
            return
        }
        if (_crossFadeAnimation.running)
            return // its finish handler resolves in the new list
        if (!_crossFaded) {
            _showDeclared()
        } else if (count === 1) {
            // No further cross-fade will come to replace the shown picture.
            currentIndex = 0
            _showDeclared()
        } else if (currentIndex >= count) {
            // The list shrank under the shown entry: go on as if it had just
            // shown its last entry, so the next cross-fade brings the first.
            currentIndex = count - 1
        }
    }

    onImagesChanged: _imagesReplaced()
    Component.onCompleted: _imagesReplaced()

    Timer {
        id: _timer
        objectName: "slideTimer"
        interval: _image.showInterval
        running: _image._count() > 0
        repeat: true
        onTriggered: {
            if (_image._count() > 1)
                _image.nextImage()
        }
    }

    Image {
        id: _mainImage
        objectName: "mainImage"
        anchors.fill: parent
        fillMode: Image.PreserveAspectCrop
        // Decoded no larger than the window: a photo of thousands of pixels
        // a side would otherwise be held at full size while it shows.
        sourceSize: _image.pictureSize
        asynchronous: true
        opacity: 1
    }

    Image {
        id: _nextImage
        objectName: "nextImage"
        anchors.fill: parent
        fillMode: Image.PreserveAspectCrop
        sourceSize: _image.pictureSize
        asynchronous: true
        opacity: 0
    }

    ParallelAnimation {
        id: _crossFadeAnimation
        objectName: "crossFade"

        NumberAnimation {
            target: _mainImage
            property: "opacity"
            from: 1
            to: 0
            duration: _image.transitionDuration
            easing.type: Easing.InOutQuad
        }
        NumberAnimation {
            target: _nextImage
            property: "opacity"
            from: 0
            to: 1
            duration: _image.transitionDuration
            easing.type: Easing.InOutQuad
        }

        onStarted: {
            const count = _image._count()
            _nextImage.source = count > 0 ? _image.getImageUrl((_image.currentIndex + 1) % count) : ""
        }
        onFinished: {
            const count = _image._count()
            if (count === 0)
                return
            _image.currentIndex = (_image.currentIndex + 1) % count
            _mainImage.source = _image.getImageUrl(_image.currentIndex)
            _mainImage.opacity = 1
            _nextImage.source = _image.getImageUrl((_image.currentIndex + 1) % count)
            _nextImage.opacity = 0
            _image._crossFaded = true
        }
    }
}
