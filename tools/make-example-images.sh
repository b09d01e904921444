#!/usr/bin/env bash
# Draws the pictures that the example scenarios show (examples/images), with
# ImageMagick and the display's own typeface. The results are committed; run
# this only to change them.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$root/examples/images"
font="$root/resources/fonts/Onest/Onest-SemiBold.ttf"
regular="$root/resources/fonts/Onest/Onest.ttf"
mkdir -p "$out"

# promo NAME FROM TO TITLE SUBTITLE: a 1280x776 slide; the text keeps to the
# left, since the receipt column covers the right third of the window.
promo() {
    convert -size 1280x776 "gradient:$2-$3" \
        -fill 'rgba(255,255,255,0.10)' -draw 'circle 640,900 640,380' \
        -fill white -font "$font" -pointsize 76 -annotate +72+330 "$4" \
        -font "$regular" -pointsize 38 -annotate +76+410 "$5" \
        -strip -sampling-factor 4:2:0 -quality 62 "$out/$1"
}

promo promo-coffee.jpg '#6b3e26' '#1d0f08' 'Капучино недели' '159 ₽ вместо 199 ₽'
promo promo-dessert.jpg '#a8325e' '#2a0a1a' 'Десерт дня −20%' 'к любому горячему напитку'
promo promo-breakfast.jpg '#d9822b' '#3a1f05' 'Завтраки до 12:00' 'каша, омлет или сырники'
promo promo-weekend.jpg '#2b6cb0' '#0a1a33' 'Выходные' 'второй кофе в подарок'

# The shop's logo for the receipt panel's welcome view (drawn at 168x88).
convert -size 336x176 xc:none \
    -fill '#F28C28' -draw 'roundrectangle 8,28 128,148 32,32' \
    -fill white -draw 'ellipse 68,88 26,40 0,360' \
    -stroke '#F28C28' -strokewidth 6 -draw 'line 58,56 78,120' -stroke none \
    -fill white -font "$font" -pointsize 50 -annotate +142+108 'ЗЕРНО' \
    -strip "$out/logo.png"

ls -l "$out"
