#!/usr/bin/env bash
# Renders the display window (1280x776) in each of its states into
# docs/screenshots/*.png, on both scene graphs under Xvfb: OpenGL (Mesa's
# llvmpipe, its fast blur) and the software one (our own blurred picture).
# Every state is drawn on both and compared; the software path's waiting
# and QR payment dialogs are kept beside the OpenGL ones (*-software.png).
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

# A large screen, the interface scaled by Qt: the receipt state at 1920x1080.
mkdir -p "$work/scaled"
xvfb-run -a -s "-screen 0 1920x1080x24 -dpi 96" \
    env QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=1.5 QT_LOGGING_RULES="default.debug=false" \
    "$build/qv4screenshots" "$work/scaled" "$work/promo-1.jpg" "$work/promo-2.jpg" >/dev/null
cp "$work/scaled/03-receipt.png" "$out/10-scaled-1920x1080.png"

# Fewer colours keep the PNGs small; the pictures stay faithful at a glance.
for png in "$out"/*.png; do
    convert "$png" -strip +dither -colors 256 PNG8:"$png"
done
ls -l "$out"
