#!/usr/bin/env bash
# Generates the window skin: background JPEG, icon, button faces, the two
# progress-bar bitmaps and the hand cursor. The outputs are committed; run this again after a
# change to the look and commit what it writes.
#
#   ui/skin/make_skin.sh            (writes into ui/skin/)
#
# Debian's ImageMagick 6 is called by its full path on purpose.
set -euo pipefail

IM=/usr/bin/convert
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
OUT="${1:-$HERE}"
CJK=/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc
SANS=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# Palette: a dark slate base, a cyan accent, an amber call to action.
BASE_TOP='#1d2433'
BASE_BOTTOM='#0c0f16'
HEADER='#161b27'
ACCENT='#27b4ff'
PANEL_EDGE='#2b3447'
KEY='#0000ff'   # cut away by the button regions; must stay pure blue

# ---- background 468 x 190 --------------------------------------------------
# Layout it leaves room for: header strip (drag area, buttons at x >= 406),
# title at (24, 43), a black text panel for the three status rows (x 14..342,
# y 95..155; the caption labels fill black, so the panel is black too),
# the bar at (22, 163) and the enter-game button at (362, 128).
"$IM" -size 468x190 gradient:"$BASE_TOP"-"$BASE_BOTTOM" \
  \( -size 468x190 radial-gradient:'#2a4a6e'-'#00000000' -crop 468x190+0+0 \
     -resize 620x300! -gravity center -crop 468x190+150+-40 +repage \) \
  -gravity northwest -compose screen -composite -compose over \
  -fill "$HEADER" -draw "rectangle 0,0 467,34" \
  -fill "$ACCENT" -draw "rectangle 0,35 467,35" \
  -fill '#1f6c99' -draw "rectangle 0,36 467,36" \
  -fill '#ffffff10' -draw "rectangle 0,0 467,0" \
  -fill "$ACCENT" -draw "polygon 14,17 20,11 26,17 20,23" \
  -fill "$HEADER" -draw "polygon 17,17 20,14 23,17 20,20" \
  -font "$CJK" -pointsize 13 -fill '#c9d3e6' -annotate +33+9 '版本更新' \
  -fill '#000000' -stroke "$PANEL_EDGE" -strokewidth 1 \
  -draw "roundrectangle 14,94 342,156 5,5" -stroke none \
  -fill "$ACCENT" -draw "rectangle 14,100 15,150" \
  -fill '#0a0d13' -stroke "$PANEL_EDGE" -draw "roundrectangle 19,160 336,180 4,4" -stroke none \
  -fill '#ffffff14' -draw "roundrectangle 356,122 456,186 9,9" \
  -fill '#7f8aa3' -font "$SANS" -pointsize 8 -annotate +250+50 'CLIENT UPDATE' \
  -fill '#27b4ff60' -draw "rectangle 250,63 332,63" \
  -strip "$WORK/background.png"
"$IM" "$WORK/background.png" -strip -interlace none -sampling-factor 2x2 -quality 90 \
  "JPEG:$OUT/background.jpg"

# ---- small buttons 24 x 24, pure-blue corners -------------------------------
# Drawn without anti-aliasing against the key colour, so every corner pixel is
# exactly (0, 0, 255) and every other pixel is clearly not.
small_face() {  # out fill edge glyph-colour glyph(min|close)
  local out="$1" fill="$2" edge="$3" ink="$4" glyph="$5"
  local draw
  if [ "$glyph" = min ]; then
    draw="rectangle 7,13 16,14"
  else
    draw="polygon 7,8 8,7 12,11 16,7 17,8 13,12 17,16 16,17 12,13 8,17 7,16 11,12"
  fi
  "$IM" -size 24x24 xc:"$KEY" +antialias \
    -fill "$fill" -stroke "$edge" -strokewidth 1 -draw "roundrectangle 1,1 22,22 5,5" -stroke none \
    -fill "$ink" -draw "$draw" \
    -type TrueColor -strip "BMP3:$out"
}
small_face "$OUT/minimize_1.bmp" '#262e3f' '#3a465e' '#aeb9cf' min
small_face "$OUT/minimize_2.bmp" '#3b4a66' '#5d77a3' '#ffffff' min
small_face "$OUT/close_1.bmp" '#262e3f' '#3a465e' '#aeb9cf' close
small_face "$OUT/close_2.bmp" '#d8343e' '#ff6b73' '#ffffff' close

# ---- enter-game button 88 x 54 ----------------------------------------------
# The face starts from the background under the button, so its corners blend.
"$IM" "$WORK/background.png" -crop 88x54+362+128 +repage "$WORK/button_base.png"
enter_face() {  # out top bottom edge text-colour text-dy glow
  local out="$1" top="$2" bottom="$3" edge="$4" ink="$5" dy="$6" glow="$7"
  "$IM" -size 80x44 gradient:"$top"-"$bottom" \
    \( -size 80x44 xc:none -fill white -draw "roundrectangle 0,0 79,43 8,8" \) \
    -alpha off -compose copy_opacity -composite "$WORK/pill.png"
  "$IM" "$WORK/button_base.png" \
    -fill "$glow" -draw "roundrectangle 1,2 86,51 10,10" \
    "$WORK/pill.png" -geometry +4+5 -compose over -composite \
    -fill none -stroke "$edge" -strokewidth 1 -draw "roundrectangle 4,5 83,48 8,8" -stroke none \
    -fill '#ffffff30' -draw "roundrectangle 6,6 81,16 6,6" \
    -font "$CJK" -pointsize 15 -fill "$ink" -gravity center -annotate +0+"$dy" '进入游戏' \
    -gravity northwest -type TrueColor -strip "BMP3:$out"
}
enter_face "$OUT/enter_1.bmp" '#ffb43a' '#e8760c' '#ffd27a' '#2a1600' '+1' '#00000000'
enter_face "$OUT/enter_2.bmp" '#ffc95c' '#f78b1c' '#fff0b0' '#2a1600' '+1' '#ffb43a40'
enter_face "$OUT/enter_3.bmp" '#d4780a' '#b85c00' '#e89a40' '#1a0d00' '+2' '#00000000'

# ---- progress bar 312 x 15 ----------------------------------------------------
# Fill: a cyan-to-teal gradient with a light top edge; shown from the left
# as the download advances. Background: a dark trough with a soft inner shade.
"$IM" -size 312x15 -define gradient:direction=east gradient:'#1c8cff'-'#2fe0c0' \
  \( -size 312x15 gradient:'#ffffff55'-'#00000040' \) -compose overlay -composite -compose over \
  -fill '#ffffff70' -draw "rectangle 0,1 311,1" \
  -fill '#00000050' -draw "rectangle 0,14 311,14" \
  -type TrueColor -strip "BMP3:$OUT/bar_fill.bmp"
"$IM" -size 312x15 gradient:'#05070b'-'#151b27' \
  -fill '#00000080' -draw "rectangle 0,0 311,1" \
  -fill '#2b344780' -draw "rectangle 0,14 311,14" \
  -type TrueColor -strip "BMP3:$OUT/bar_back.bmp"
# The faces and bars of 256 colours or fewer as palette bitmaps (same pixels).
python3 "$HERE/palette_images.py" "$OUT"/*.bmp

# ---- icon: 128, 64, 48, 32, 16, all 32 bits per pixel, stored as PNG ---------
"$IM" -size 128x128 xc:none \
  \( -size 128x128 gradient:'#2b3a57'-'#0d1119' \) \
  \( -size 128x128 xc:none -fill white -draw "roundrectangle 4,4 123,123 26,26" \) \
  -compose over -delete 0 -alpha off -compose copy_opacity -composite -compose over \
  -fill none -stroke "$ACCENT" -strokewidth 5 -draw "arc 24,24 104,104 200,520" -stroke none \
  -fill '#ffb43a' -draw "polygon 52,34 76,34 76,62 92,62 64,94 36,62 52,62" \
  -strip "$WORK/icon.png"
"$IM" "$WORK/icon.png" -define icon:auto-resize=128,64,48,32,16 "$OUT/updater.ico"
python3 "$HERE/ico_png_frames.py" "$OUT/updater.ico"

# ---- hand cursor 32 x 32, hot spot at the tip of the pointing finger --------
# The enter-game button's pointer: an amber hand with a dark outline, drawn
# without anti-aliasing on a transparent ground. ImageMagick writes the
# file as an icon (type 1, no hot spot); the type and the hot spot fields
# are set after.
HAND_HOT_X=11
HAND_HOT_Y=1
"$IM" -size 32x32 xc:none +antialias -fill '#ffb43a' -stroke '#2a1600' -strokewidth 1 \
  -draw "polygon 3,18 5,16 9,18 9,24 6,23" \
  -draw "roundrectangle 8,14 27,30 4,4" \
  -draw "roundrectangle 14,10 18,19 2,2" \
  -draw "roundrectangle 18,11 22,19 2,2" \
  -draw "roundrectangle 22,13 26,20 2,2" \
  -draw "roundrectangle 9,1 14,20 2,2" \
  -stroke none -fill '#fff0b0' -draw "rectangle 11,3 11,12" \
  -strip "$WORK/hand.png"
"$IM" "$WORK/hand.png" "CUR:$OUT/hand.cur"
# Resource type 2 (cursor) at byte 2; in the entry of the one image, the hot
# spot's x at byte 10 and y at byte 12 (16-bit little-endian).
printf '\x02' | dd of="$OUT/hand.cur" bs=1 seek=2 count=1 conv=notrunc status=none
printf "$(printf '\\x%02x\\x00\\x%02x\\x00' "$HAND_HOT_X" "$HAND_HOT_Y")" |
  dd of="$OUT/hand.cur" bs=1 seek=10 count=4 conv=notrunc status=none
# Four colours and no soft edge: a 4-bit frame with a mask holds it exactly.
python3 "$HERE/palette_images.py" "$OUT/hand.cur"

echo "skin written to $OUT"
