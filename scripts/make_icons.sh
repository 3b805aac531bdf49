#!/usr/bin/env bash
# Regenerates res/appicon.ico and res/externalhd.ico from ImageMagick drawing
# primitives only, so the icons can be rebuilt and tweaked without binary assets.
# Usage (from the repository root): bash scripts/make_icons.sh
set -euo pipefail
# /usr/local/bin/convert may be a stand-in, not ImageMagick.
export PATH=/usr/bin:$PATH
cd "$(dirname "$0")/.."
mkdir -p res
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Shapes are laid out on a 64x64 grid and rendered at 4x the target size, then
# box-filtered down: crisp at 48/32 and still clean pixels at 16.
SS=4

# draw PRIMITIVE...: queue a primitive in grid units, placed by $place.
draw() { args+=(-draw "scale $k,$k $place $*"); }
# grad TOP BOTTOM PRIMITIVE...: -draw cannot fill with a gradient, so mask one.
grad() {
  args+=("(" -size "${px}x${px}" "gradient:$1-$2" -alpha set "(" -size "${px}x${px}" xc:none
         -fill white -draw "scale $k,$k $place ${*:3}" ")"
         -compose DstIn -composite ")" -compose Over -composite)
}

# icon SIZE OUT [badge]: the external disk; with "badge" the disk shrinks into
# the upper left so a green sync badge can overlap it in the lower right.
icon() {
  local size=$1 out=$2 badge=${3:-}
  px=$((size * SS)) k=$(awk "BEGIN{print $size*$SS/64}") args=()
  # Fine details vanish at 16px, so there the LED, cable, badge and arrows
  # are fattened and the disk is not shrunk to make room for the badge.
  local led=2.6 cable=3 arrow=3.6 shrunk="translate 0,-2 scale 0.82,0.82"
  local badge_at="translate 47,47"
  if ((size <= 16)); then
    led=4.5 cable=5 arrow=4.4 shrunk="translate 0,-4"
    badge_at="translate 45,45 scale 1.2,1.2"
  fi
  place="translate 0,0"
  [[ -n $badge ]] && place=$shrunk

  # USB cable and plug first, so the drive body hides the cable's root.
  args+=(-fill none -stroke '#33373d' -strokewidth "$cable")
  draw "line 16,40 16,52"
  args+=(-stroke none -fill '#33373d'); draw "roundrectangle 11,49 21,56 1.5,1.5"
  args+=(-fill '#c4c9cf' -stroke '#33373d' -strokewidth 1)
  draw "rectangle 12.5,55 19.5,63.5"
  args+=(-stroke none -fill '#5b6168'); draw "rectangle 14,58 18,61"
  # Dark rim, silver top face and darker front face fake a slight 3/4 view.
  grad '#6b727b' '#1e2126' "roundrectangle 3,10 61,46 7,7"
  grad '#f2f4f6' '#9ba2aa' "roundrectangle 5,11 59,23 5,5"
  grad '#7d848d' '#3d4249' "roundrectangle 5,18 59,44 5,5"
  # Activity LED with a pin-point highlight.
  args+=(-fill '#2bd44f' -stroke '#0d5a1e' -strokewidth 0.8)
  draw "circle 52,34 $(awk "BEGIN{print 52+$led}"),34"
  args+=(-stroke none -fill '#c9ffd4'); draw "circle 51.3,33.3 52,33.3"

  if [[ -n $badge ]]; then
    # Two chasing arrows on a green disc: the familiar "kept in sync" cue.
    place=$badge_at
    args+=(-fill '#1f9d3a' -stroke '#0b4f1b' -strokewidth 1.5)
    draw "circle 0,0 16,0"
    # IM6 strokes scaled arc paths badly, so the arrows are a stroked ring
    # cut by two disc-coloured wedges, with triangular heads in the gaps.
    args+=(-fill none -stroke white -strokewidth "$arrow")
    draw "circle 0,0 9,0"
    args+=(-fill '#1f9d3a' -stroke none)
    draw "polygon 0,0 11.47,-8.03 13.16,4.79"
    draw "polygon 0,0 -11.47,8.03 -13.16,-4.79"
    args+=(-fill white)
    draw "polygon 10.8,-0.2 11.5,-8.0 3.3,-2.3"
    draw "polygon -10.8,0.2 -11.5,8.0 -3.3,2.3"
  fi
  convert -size "${px}x${px}" xc:none "${args[@]}" \
    -filter box -resize "${size}x${size}" "$out"
}

# Every size a scale asks for, so nothing is stretched: the small icon at 100, 125, 150
# and 200 % (16, 20, 24, 32) and the large one (32, 40, 48, 64).
sizes=(16 20 24 32 40 48 64)
# The help window's picture at 100, 125, 150 and 200 %: its control is wider than high,
# so the disk is drawn at the height and centred on a clear canvas of the full width.
pictures=(58x42 73x53 87x63 116x84)

for name in externalhd appicon; do
  frames=()
  for s in "${sizes[@]}"; do
    icon "$s" "$tmp/$name-$s.png" "$([[ $name == appicon ]] && echo badge)"
    frames+=("$tmp/$name-$s.png")
  done
  if [[ $name == externalhd ]]; then
    for p in "${pictures[@]}"; do
      h=${p#*x}
      icon "$h" "$tmp/$name-h$h.png"
      convert "$tmp/$name-h$h.png" -background none -gravity center -extent "$p" "$tmp/$name-$p.png"
      frames+=("$tmp/$name-$p.png")
    done
  fi
  # TrueColorAlpha keeps every frame 32-bit; otherwise small frames may be
  # palettised and lose their soft alpha edges.
  convert "${frames[@]}" -type TrueColorAlpha "res/$name.ico"
done
