#!/usr/bin/env bash
# Draws the application's artwork with ImageMagick and writes it into
# win32/app/res/, where the resource script picks it up:
#   background.png  the main window's 500x200 picture (8-bit RGB, no alpha)
#   kestrane.ico    the program's icon: 16, 32, 48, 64, 128 and 256 pixels, 32-bit
# The generated files are committed, so the build never needs ImageMagick;
# run this again after changing the drawing. Needs Debian's imagemagick and
# fonts-dejavu-core.
set -euo pipefail
cd "$(dirname "$0")/.."

# Called by its full path: another `convert` may come first on the PATH.
convert=/usr/bin/convert
if [ ! -x "$convert" ]; then
  echo "make-art: $convert not found (apt-get install imagemagick)" >&2
  exit 1
fi

out=win32/app/res
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The motif of both: the face of a 5-pin DIN MIDI socket, centred at (CX, CY)
# with radius R: a ring, the key notch at the top, and the five pins on the
# lower half circle (180 degrees, as MIDI uses them).
socket() {
  local cx=$1 cy=$2 r=$3 colour=$4 stroke=$5
  local pin=$((r / 7)) arc=$((r * 60 / 100))
  local draw="stroke $colour stroke-width $stroke fill none circle $cx,$cy $((cx + r)),$cy"
  draw+=" stroke none fill $colour"
  draw+=" rectangle $((cx - r / 7)),$((cy - r - stroke / 2)) $((cx + r / 7)),$((cy - r * 78 / 100))"
  # Pins at 180, 225, 270, 315 and 360 degrees (image y grows downwards, so
  # these lie on the lower half), as sin/cos times 1000.
  local angle
  for angle in "-1000 0" "-707 707" "0 1000" "707 707" "1000 0"; do
    set -- $angle
    local px=$((cx + arc * $1 / 1000)) py=$((cy + arc * $2 / 1000 - r / 5))
    draw+=" circle $px,$py $((px + pin)),$py"
  done
  printf '%s' "$draw"
}

# ---- The main window's picture ----
"$convert" -size 500x200 gradient:'#0d2233'-'#17606b' \
  \( -size 700x400 radial-gradient:'#2a8f96'-'#0d2233' -crop 500x200+40+100 +repage \) \
  -compose screen -composite \
  -draw "stroke #ffffff22 stroke-width 10 fill none circle 415,100 497,100" \
  -draw "$(socket 415 100 62 '#e8f6f3' 6)" \
  -fill '#9fd9d2' -draw "rectangle 28,150 250,152" \
  -font DejaVu-Sans-Bold -pointsize 48 -fill '#ffffff' -annotate +26+88 'Kestrane' \
  -font DejaVu-Sans -pointsize 15 -fill '#bfe7e1' -annotate +29+118 'Firmware updates for MIDI devices' \
  -font DejaVu-Sans-Mono -pointsize 11 -fill '#7fbfbb' \
  -annotate +28+175 'F0 00 20 3C 01 7F 04 00 11 22 ... F7' \
  -alpha off -depth 8 -strip PNG24:"$out/background.png"

# ---- The icon ----
"$convert" -size 256x256 xc:none \
  \( -size 256x256 gradient:'#1d7d86'-'#0d2b3e' \
     \( -size 256x256 xc:none -fill white -draw 'roundrectangle 8,8 247,247 44,44' \) \
     -compose copy-opacity -composite \) \
  -compose over -composite \
  -draw "$(socket 128 132 92 '#f2fbf9' 16)" \
  -depth 8 "$work/icon-256.png"
"$convert" "$work/icon-256.png" -define icon:auto-resize=256,128,64,48,32,16 "$out/kestrane.ico"

echo "make-art: wrote $out/background.png and $out/kestrane.ico"
