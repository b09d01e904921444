import QtQuick
import qv4App

// Busy spinner: three arcs turning at one, two and three turns per cycle.
Canvas {
    id: _waiter

    // Starts at 0; the animation below drives it.
    property real angle
    property color firstArcColor: Theme.colorBrandDark
    property color secondArcColor: Theme.colorBrand
    property color thirdArcColor: Theme.colorBrandLight

    width: 120
    height: 120

    onAngleChanged: requestPaint()
    onFirstArcColorChanged: requestPaint()
    onSecondArcColorChanged: requestPaint()
    onThirdArcColorChanged: requestPaint()

    onPaint: {
        const ctx = getContext("2d")
        ctx.reset()
        ctx.clearRect(0, 0, width, height)

        const lineWidth = 0.04 * height
        ctx.lineWidth = lineWidth
        ctx.lineCap = "square"
        const cx = width / 2
        const cy = height / 2
        const r = (height - lineWidth) / 2
        const a = angle * Math.PI / 180

        const arcs = [[firstArcColor, r, a], [secondArcColor, r - 0.09 * height, 2 * a],
                      [thirdArcColor, r - 0.19 * height, 3 * a]]
        for (const [color, radius, start] of arcs) {
            if (radius <= 0)
                continue
            ctx.beginPath()
            ctx.strokeStyle = color
            ctx.arc(cx, cy, radius, start, start + 4.71, false)
            ctx.stroke()
        }
    }

    // Turns this many times a second. On the OpenGL scene graph every frame
    // of the spinner is a frame of the whole window, and where OpenGL runs
    // on the CPU that is most of the waiting screen's cost; 30 look as
    // smooth as 60 on a spinner of this size.
    property int framesPerSecond: 30

    // One turn in 1500 ms, from 0 each time the spinner is shown; idle while
    // hidden. The angle follows the clock, not the count of ticks.
    Timer {
        property real startedAt: 0

        interval: Math.round(1000 / Math.max(1, _waiter.framesPerSecond))
        repeat: true
        running: _waiter.visible
        onRunningChanged: {
            if (running) {
                startedAt = Date.now()
                _waiter.angle = 0
            }
        }
        onTriggered: {
            const elapsed = ((Date.now() - startedAt) % 1500 + 1500) % 1500
            _waiter.angle = elapsed / 1500 * 360
        }
    }
}
