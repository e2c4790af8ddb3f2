#!/bin/sh
# Draws the program's pictures into src/ui/icons/ with ImageMagick, from vector primitives.
# Run it again after changing a drawing; the PNGs are committed and built into the program.
#
# Each picture is drawn on a grid of its own size (32 units for a toolbar picture, 16 for a
# state image) at four times the pixels, then reduced with a box filter: edges on whole units
# stay sharp and slanted ones are smoothed. The tiny sort arrows and the stop glyph are set
# pixel by pixel.
set -eu

out=$(cd "$(dirname "$0")/.." && pwd)/src/ui/icons
mkdir -p "$out"

if command -v magick >/dev/null 2>&1; then im=magick; else im=convert; fi

# One palette for the whole set: a fill and its darker outline.
blue='#3d8ee0' blue_dark='#1c5597' blue_light='#d6e9fb'
green='#45a845' green_dark='#2a742a'
amber='#f2a93b' amber_dark='#a8640c' amber_light='#fff2d9'
red='#e0473c' red_dark='#9e2019'
grey='#8c929b' grey_dark='#4d535b'
steel='#6f8fb3'
paper='#ffffff' paper_line='#6b7280'
kraft='#f2dfae' kraft_dark='#9c7c3c'
folder='#f4c542' folder_back='#e0a92a' folder_dark='#9a7416'

ss=4 # supersampling factor

# render FILE SIZE GRID MVG: draws MVG on a GRID x GRID canvas, written as SIZE x SIZE.
render() {
    file=$1 size=$2 grid=$3 mvg=$4
    big=$((size * ss))
    scale=$(awk "BEGIN { print $big / $grid }")
    $im -size "${big}x${big}" xc:none -draw "scale $scale,$scale stroke-linejoin round $mvg" \
        -filter box -resize "${size}x${size}" -strip -define png:exclude-chunks=date,time \
        "PNG32:$out/$file"
}

# pixels FILE WxH MVG: drawn at the final size, without smoothing.
pixels() {
    $im -size "$2" xc:none +antialias -draw "$3" -strip -define png:exclude-chunks=date,time \
        "PNG32:$out/$1"
}

# gear_path CX CY TEETH R_OUT R_IN HOLE: a gear outline with a round hole (even-odd fill).
gear_path() {
    awk -v cx="$1" -v cy="$2" -v n="$3" -v ro="$4" -v ri="$5" -v hole="$6" 'BEGIN {
        pi = atan2(0, -1); step = 360 / n; d = ""
        for (k = 0; k < n; k++) {
            a = k * step
            split((a - step * 0.30) " " (a - step * 0.17) " " (a + step * 0.17) " " (a + step * 0.30), ang, " ")
            split(ri " " ro " " ro " " ri, rad, " ")
            for (j = 1; j <= 4; j++) {
                t = ang[j] * pi / 180
                d = d sprintf("%s %.2f,%.2f ", (k == 0 && j == 1) ? "M" : "L", cx + rad[j] * cos(t), cy + rad[j] * sin(t))
            }
        }
        d = d sprintf("Z M %.2f,%.2f A %s,%s 0 1 0 %.2f,%.2f A %s,%s 0 1 0 %.2f,%.2f Z",
                      cx + hole, cy, hole, hole, cx - hole, cy, hole, hole, cx + hole, cy)
        print d
    }'
}

# ---- toolbar, 32 x 32 ---------------------------------------------------------------------

render tool_scan.png 32 32 "
  fill $paper stroke $paper_line stroke-width 1.2 rectangle 4.5,3.5 21.5,27.5
  stroke $grey stroke-width 1.4 line 7.5,8 18.5,8 line 7.5,12 18.5,12 line 7.5,16 13,16
  line 7.5,20 12,20 line 7.5,24 12,24
  fill '#cfe6fbc0' stroke $blue_dark stroke-width 2.6 circle 19,18 19,11.5
  fill none stroke $grey_dark stroke-width 4.2 stroke-linecap round line 24.2,23.2 28.5,27.5"

render tool_grab.png 32 32 "
  fill '#e4e7eb' stroke $grey_dark stroke-width 1.4 path 'M 3.5,19.5 L 8,19.5 L 10,23.5 L 22,23.5 L 24,19.5 L 28.5,19.5 L 28.5,28.5 L 3.5,28.5 Z'
  fill $green stroke $green_dark stroke-width 1.4 polygon 12.5,2.5 19.5,2.5 19.5,11.5 25,11.5 16,21.5 7,11.5 12.5,11.5"

render tool_pause.png 32 32 "
  fill $blue stroke $blue_dark stroke-width 1.4
  roundrectangle 8.5,5.5 13.5,26.5 1.5,1.5 roundrectangle 18.5,5.5 23.5,26.5 1.5,1.5"

render tool_stop.png 32 32 "
  fill $red stroke $red_dark stroke-width 1.4 roundrectangle 6.5,6.5 25.5,25.5 2.5,2.5
  fill none stroke '#ffffff60' stroke-width 1.2 line 8.5,9 23.5,9"

render tool_autograb.png 32 32 "
  fill none stroke $blue stroke-width 3 path 'M 27,16 A 11,11 0 1 1 23.3,8.2'
  fill $blue stroke none polygon 26.7,3.6 27.6,12.4 18.8,11.5
  fill $green stroke $green_dark stroke-width 1.2 polygon 13.5,8.5 18.5,8.5 18.5,14 22,14 16,21.5 10,14 13.5,14"

render tool_find.png 32 32 "
  fill $blue stroke $blue_dark stroke-width 1.4 polygon 3.5,4.5 28.5,4.5 19.5,15.5 19.5,25 12.5,29 12.5,15.5
  fill none stroke '#ffffff80' stroke-width 1.2 line 7,7 25,7"

render tool_read.png 32 32 "
  fill $kraft stroke $kraft_dark stroke-width 1.3 path 'M 3.5,14 L 16,5 L 28.5,14 L 28.5,28.5 L 3.5,28.5 Z'
  fill $paper stroke $paper_line stroke-width 1.2 rectangle 7.5,6.5 24.5,22
  stroke $grey stroke-width 1.4 line 10.5,10.5 21.5,10.5 line 10.5,14 21.5,14 line 10.5,17.5 18,17.5
  fill $kraft stroke $kraft_dark stroke-width 1.3 path 'M 3.5,14 L 16,22.5 L 28.5,14 L 28.5,28.5 L 3.5,28.5 Z'
  fill none path 'M 3.5,28.5 L 13,20.5 M 28.5,28.5 L 19,20.5'"

render tool_post.png 32 32 "
  fill $kraft stroke $kraft_dark stroke-width 1.3 rectangle 2.5,7.5 25.5,25.5
  fill none path 'M 2.5,7.5 L 14,17 L 25.5,7.5'
  fill $green stroke $green_dark stroke-width 1.3 polygon 16.5,19.5 22.5,19.5 22.5,15 30,22.5 22.5,30 22.5,25.5 16.5,25.5"

render tool_browse.png 32 32 "
  fill $folder_back stroke $folder_dark stroke-width 1.3 path 'M 2.5,6.5 L 11.5,6.5 L 14.5,9.5 L 27.5,9.5 L 27.5,26.5 L 2.5,26.5 Z'
  fill $folder stroke $folder_dark stroke-width 1.3 polygon 6.5,13.5 30.5,13.5 26.5,26.5 2.5,26.5"

render tool_options.png 32 32 "
  fill $steel stroke $blue_dark stroke-width 1.3 fill-rule evenodd path '$(gear_path 16 16 8 13.5 10 4.5)'"

render tool_about.png 32 32 "
  fill $blue stroke $blue_dark stroke-width 1.4 circle 16,16 16,2.5
  fill '#ffffff' stroke none circle 16,9.5 16,11.8 roundrectangle 14,13.5 18,24.5 1,1"

# ---- list row states, 16 x 16 -------------------------------------------------------------

render state_complete.png 16 16 "
  fill $green stroke $green_dark stroke-width 1 roundrectangle 2.5,2.5 13.5,13.5 1.5,1.5"

render state_incomplete.png 16 16 "
  fill $amber_light stroke none rectangle 2.5,2.5 13.5,13.5
  fill $amber rectangle 2.5,8 13.5,13.5
  fill none stroke $amber_dark stroke-width 1 roundrectangle 2.5,2.5 13.5,13.5 1.5,1.5"

render state_queued.png 16 16 "
  fill $blue_light stroke $blue_dark stroke-width 1.1 circle 8,8 8,1.5
  stroke $blue_dark stroke-width 1.4 stroke-linecap round line 8,8 8,4 line 8,8 11,9.5"

render state_downloading.png 16 16 "
  fill $blue stroke $blue_dark stroke-width 1 polygon 5.5,1.5 10.5,1.5 10.5,7.5 14,7.5 8,14.5 2,7.5 5.5,7.5"

render state_done.png 16 16 "
  fill $green stroke $green_dark stroke-width 1 circle 8,8 8,1.5
  fill none stroke '#ffffff' stroke-width 1.9 stroke-linecap round path 'M 4.8,8.3 L 7,10.5 L 11.2,5.6'"

render state_failed.png 16 16 "
  fill $red stroke $red_dark stroke-width 1 circle 8,8 8,1.5
  stroke '#ffffff' stroke-width 1.9 stroke-linecap round line 5.6,5.6 10.4,10.4 line 10.4,5.6 5.6,10.4"

render state_multigroup.png 16 16 "
  stroke $blue_dark stroke-width 1
  fill $blue_light rectangle 6.5,1.5 14.5,8.5
  fill '#a9cdf3' rectangle 4,4.5 12,11.5
  fill $blue rectangle 1.5,7.5 9.5,14.5"

render state_scan.png 16 16 "
  fill $blue_light stroke $blue_dark stroke-width 1.5 circle 6.5,6.5 6.5,2
  fill none stroke $grey_dark stroke-width 2.6 stroke-linecap round line 10,10 13.8,13.8"

render state_held.png 16 16 "
  fill $amber_light stroke $amber_dark stroke-width 1.1 circle 8,8 8,1.5
  fill $amber_dark stroke none roundrectangle 5,4.5 7,11.5 0.5,0.5 roundrectangle 9,4.5 11,11.5 0.5,0.5"

# ---- sort arrows 9 x 5 and the stop glyph 7 x 7 ---------------------------------------------

arrow='#5f6368'
pixels sort_ascending.png 9x5 "fill $arrow
  rectangle 4,0 4,0 rectangle 3,1 5,1 rectangle 2,2 6,2 rectangle 1,3 7,3 rectangle 0,4 8,4"
pixels sort_descending.png 9x5 "fill $arrow
  rectangle 0,0 8,0 rectangle 1,1 7,1 rectangle 2,2 6,2 rectangle 3,3 5,3 rectangle 4,4 4,4"
pixels stop_glyph.png 7x7 "fill $red_dark rectangle 0,0 6,6 fill $red rectangle 1,1 5,5"

# ---- application icon: a quill writing a stream ----------------------------------------------

# At 16 pixels the shaft would only blur the feather: it is drawn plain there,
# with a bolder stream.
app_icon() {
    size=$1
    if [ "$size" -le 16 ]; then
        wave=3.6 detail=""
    else
        wave=2.4
        detail="fill none stroke '#1f6fbf' stroke-width 1.1 line 12,20.5 24,8.5"
    fi
    render "app_$size.png" "$size" 32 "
  fill '#1f6fbf' stroke '#134a85' stroke-width 1 roundrectangle 1.5,1.5 30.5,30.5 6,6
  fill '#ffffff22' stroke none roundrectangle 2,2 30,15 5.5,5.5
  fill none stroke '#8fd8ff' stroke-width $wave stroke-linecap round
  path 'M 4.5,25 Q 8.5,21.5 12.5,25 T 20.5,25 T 27.5,24'
  fill '#ffffff' stroke none path 'M 10,23 C 11,15 17,7 27,4.5 C 26,13 19,20 10,23 Z'
  $detail
  fill none stroke '#ffffff' stroke-width 1.6 stroke-linecap round line 8.5,26 11.5,21.5"
}
for size in 16 32 48 256; do app_icon "$size"; done

echo "pictures written to $out"
