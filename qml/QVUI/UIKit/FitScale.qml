import QtQuick

// Shrinks a figure that is wider than the room it has, down to `floor` of its
// size and no further; at its designed size nothing changes. For a group of
// texts that shrink as one (a figure and its sign, in two sizes); a single
// text fits itself with fontSizeMode. Set origin.y to
// the figure's baseline so that it stays on the line of its neighbours.
// Apply it only while it shrinks, `transform: fit.factor < 1 ? [fit] : []`:
// even an identity transform moves text off its pixel grid.
Scale {
    // The figure's own width and the room it has, both unscaled.
    property real natural: 0
    property real available: 0
    property real floor: 0.6

    readonly property real factor: natural > available && natural > 0
                                   ? Math.max(floor, available / natural) : 1

    xScale: factor
    yScale: factor
}
