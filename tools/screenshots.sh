#!/usr/bin/env bash
# Renders the display window (1280x776) in each of its states into
# docs/screenshots/*.png, on both scene graphs under Xvfb: OpenGL (Mesa's
# llvmpipe, its fast blur) and the software one (our own blurred picture).
# Every state is drawn on both and compared; the software path's waiting
# and QR payment dialogs are kept beside the OpenGL ones (*-software.png).
# Then a few states full screen with --scale fit at 1920x1080, 800x480 and
# 1080x1920 (portrait), and on the right-hand monitor of two with --screen.
#   bash tools/screenshots.sh [OUT]   # OUT/software/ gets every software state too
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QV4_BUILD_DIR:-$root/build}"
out="${1:-$root/docs/screenshots}"

bash "$root/tools/setup.sh"
cmake --build "$build" --target qv4screenshots

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work/xdg" && mkdir -m 700 "$XDG_RUNTIME_DIR"

# Promo pictures, made here rather than shipped.
font="$root/resources/fonts/Onest/Onest-SemiBold.ttf"
convert -size 1920x1080 gradient:'#3a1c71'-'#d76d77' \
    -fill '#ffffff22' -draw 'circle 420,540 420,140' -draw 'circle 1500,300 1500,120' \
    -font "$font" -fill white -pointsize 110 -gravity west -annotate +120-60 'Осеннее меню' \
    -pointsize 54 -annotate +124+70 'Тыквенный латте — 250 ₽' "$work/promo-1.jpg"
convert -size 1600x1200 gradient:'#0f4c3a'-'#7ad67a' \
    -font "$font" -fill white -pointsize 96 -gravity west -annotate +120-40 'Второй кофе' \
    -pointsize 96 -annotate +120+80 'за полцены' "$work/promo-2.jpg"

mkdir -p "$out" "$work/software"
xvfb-run -a -s "-screen 0 1280x776x24 -dpi 96" \
    env QT_QPA_PLATFORM=xcb QSG_RHI_BACKEND=opengl QT_LOGGING_RULES="default.debug=false" \
    "$build/qv4screenshots" "$out" "$work/promo-1.jpg" "$work/promo-2.jpg"
xvfb-run -a -s "-screen 0 1280x776x24 -dpi 96" \
    env QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software QT_LOGGING_RULES="default.debug=false" \
    "$build/qv4screenshots" "$work/software" "$work/promo-1.jpg" "$work/promo-2.jpg" >/dev/null
# The same picture on both: the share of pixels that differ by more than 8 %
# of full scale (glyph edges are rasterised differently, and the two blurs
# differ by a few levels). More than 2 % in any state is a fault.
echo "software against OpenGL, pixels differing by more than 8 %:"
worst=0
for png in "$work/software"/*.png; do
    name="$(basename "$png")"
    differing="$(compare -metric AE -fuzz 8% "$out/$name" "$png" null: 2>&1 || true)"
    share="$(awk -v d="$differing" 'BEGIN { printf "%.2f", 100 * d / (1280 * 776) }')"
    echo "  $name: $share %"
    worst="$(awk -v a="$worst" -v b="$share" 'BEGIN { print (b > a ? b : a) }')"
done
if awk -v w="$worst" 'BEGIN { exit !(w > 2) }'; then
    echo "screenshots: the software path differs from OpenGL by up to $worst % of the pixels" >&2
    exit 1
fi
cp "$work/software/01-waiting.png" "$out/01-waiting-software.png"
cp "$work/software/06-payment-qr.png" "$out/06-payment-qr-software.png"
if [[ -n "${1:-}" ]]; then
    mkdir -p "$out/software" && cp "$work/software"/*.png "$out/software/"
fi

# Other screens, full screen with --scale fit, on the scene graph the display
# picks without a GPU: SIZE, then STATE:NAME pairs to keep. The last one has
# two monitors side by side, the display on the right one, the left black.
other_screen() {
    local size="$1" dir="$work/$1" options=(--use-fullscreen --scale fit) setup=true
    shift
    if [[ "$size" == two-monitors ]]; then
        setup="xrandr --setmonitor LEFT 1280/340x800/210+0+0 none && \
               xrandr --setmonitor RIGHT 1280/340x800/210+1280+0 none"
        options+=(--screen RIGHT)
        size=2560x800
    fi
    mkdir -p "$dir"
    xvfb-run -a -s "-screen 0 ${size}x24 -dpi 96 -noreset" sh -c "$setup && exec \"\$@\"" sh \
        env QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software QT_LOGGING_RULES="default.debug=false" \
        "$build/qv4screenshots" "$dir" "${options[@]}" "$work/promo-1.jpg" "$work/promo-2.jpg" >/dev/null
    for pair in "$@"; do
        cp "$dir/${pair%%:*}.png" "$out/${pair#*:}.png"
    done
}
other_screen 1920x1080 03-receipt:10-fit-1920x1080 06-payment-qr:15-fit-1920x1080-payment-qr
other_screen 800x480 03-receipt:16-fit-800x480
other_screen 1080x1920 03-receipt:17-portrait-1080x1920 07-slideshow:18-portrait-1080x1920-slideshow \
    06-payment-qr:19-portrait-1080x1920-payment-qr
other_screen two-monitors 03-receipt:20-two-monitors-screen-right

# Fewer colours keep the PNGs small; the pictures stay faithful at a glance.
for png in "$out"/*.png; do
    convert "$png" -strip +dither -colors 256 PNG8:"$png"
done
ls -l "$out"
