import QtQuick
import qv4App

// Full-window slideshow of the promotional images that are due now, with a
// cross-fade from each picture to the next.
Item {
    id: _image

    // Entries {"url", "timeout" (seconds)} in display order.
    property var images: []
    property int currentIndex: 0
    // Display time of the entry on screen, in milliseconds.
    property int showInterval: 10000
    property int transitionDuration: 500

    // A picture that would not decode here (its URL): whoever loaded it
    // counts it as failed.
    signal pictureFailed(string url)
    readonly property size pictureSize: DpiSettings.decodeSize(width, height)

    // Used when an entry has no positive "timeout": an interval of 0 would
    // fire on every event-loop turn and restart the cross-fade forever.
    readonly property int defaultShowInterval: 10000

    // True once a cross-fade has finished: from then on the two pictures are
    // assigned by the cross-fade, and a new list takes effect at the next one.
    property bool _crossFaded: false

    function _count() {
        return images && images.length > 0 ? images.length : 0
    }

    function _entry(index) {
        const count = _count()
        if (count === 0)
            return undefined
        // Indices are always taken within the current list.
        const entry = images[((index % count) + count) % count]
        return entry !== null && typeof entry === "object" ? entry : undefined
    }

    function _urlOf(entry) {
        const url = entry ? entry.url : undefined
        return url === undefined || url === null ? "" : String(url)
    }

    // The URL of entry `index`; its timeout becomes the interval in force.
    function getImageUrl(index) {
        if (_count() === 0)
            return ""
        const entry = _entry(index)
        const timeout = entry ? Number(entry.timeout) : 0
        showInterval = timeout > 0 ? Math.min(Math.round(timeout * 1000), 2147483647) || 1
                                   : defaultShowInterval
        return _urlOf(entry)
    }

    // Index in `images` of the entry the preloaded picture holds.
    property int _nextIndex: 1
    // Entries passed over since the last cross-fade, having no picture to show.
    property int _skipped: 0
    // A cross-fade is due and waits for its picture to be decoded.
    property bool _fadeDue: false

    function nextImage() {
        if (_count() <= 1 || _fadeDue || _crossFadeAnimation.running)
            return
        _fadeDue = true
        _skipped = 0
        _fadeWhenDecoded()
    }

    // A cross-fade starts only onto a decoded picture: the customer never
    // sees a half-loaded or blank one. An entry whose picture fails is
    // passed over for the one after it.
    function _fadeWhenDecoded() {
        if (!_fadeDue)
            return
        const status = _nextImage.status
        if (status === Image.Loading)
            return // called again when it has loaded
        if (status === Image.Ready) {
            _fadeDue = false
            _crossFadeAnimation.start()
            return
        }
        if (_skipped + 2 >= _count()) {
            // Nothing else to show: the picture on screen stays.
            _fadeDue = false
            _preload(currentIndex + 1)
            return
        }
        ++_skipped
        _preload(_nextIndex + 1)
        _fadeWhenDecoded()
    }

    function _preload(index) {
        const count = _count()
        _nextIndex = count > 0 ? ((index % count) + count) % count : 0
        _nextImage.source = count > 1 ? _urlOf(_entry(_nextIndex)) : ""
    }

    // The pictures as first declared: the entry at currentIndex and, behind
    // it, the one after it. Each picture stays for its own timeout.
    function _showDeclared() {
        const count = _count()
        _fadeDue = false
        _preload(currentIndex + 1)
        _mainImage.source = count > 0 ? getImageUrl(currentIndex) : ""
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
        } else {
            if (currentIndex >= count) {
                // The list shrank under the shown entry: go on as if it had just
                // shown its last entry, so the next cross-fade brings the first.
                currentIndex = count - 1
            }
            // The next cross-fade brings the entry after it in the new list.
            _skipped = 0
            _preload(currentIndex + 1)
            _fadeWhenDecoded()
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
        // Decoded at the window's size in screen pixels, no larger: a photo
        // of thousands of pixels a side would otherwise be held at full size
        // while it shows.
        sourceSize.width: _image.pictureSize.width
        sourceSize.height: _image.pictureSize.height
        asynchronous: true
        opacity: 1
        onStatusChanged: if (status === Image.Error) _image.pictureFailed(String(source))
    }

    Image {
        id: _nextImage
        objectName: "nextImage"
        anchors.fill: parent
        fillMode: Image.PreserveAspectCrop
        sourceSize.width: _image.pictureSize.width
        sourceSize.height: _image.pictureSize.height
        asynchronous: true
        opacity: 0
        onStatusChanged: {
            if (status === Image.Error)
                _image.pictureFailed(String(source))
            _image._fadeWhenDecoded()
        }
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

        onFinished: {
            const count = _image._count()
            if (count === 0)
                return
            // The picture that has faded in goes on as the main one (decoded
            // already, unless the list changed meanwhile); the interval in
            // force is its own entry's timeout.
            _image.currentIndex = _image._nextIndex % count
            _mainImage.source = _image.getImageUrl(_image.currentIndex)
            _mainImage.opacity = 1
            _image._preload(_image.currentIndex + 1)
            _nextImage.opacity = 0
            _image._crossFaded = true
            _timer.restart()
        }
    }
}
