#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the window's pictures from their SVG sources into png/ (committed, so a build needs no
# renderer). Rerun after editing an SVG: app/resources/render.sh
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p png
render() { rsvg-convert --format=png --output="png/$2" "${@:3}" "svg/$1"; }

render background.svg background.png --width=1188 --height=709
for face in export_normal export_pressed export_focused export_disabled \
            import_normal import_pressed import_focused import_disabled; do
  render "$face.svg" "$face.png"
done
for size in 128 96 72 64 48 32 24 16; do
  render icon.svg "icon_$size.png" --width="$size" --height="$size"
done
