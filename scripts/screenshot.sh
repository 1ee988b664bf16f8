#!/bin/sh
# Takes docs/viewer.png: corrugo-host's viewer on examples/tube.ac after a
# wave applied through the Corrugo dialog with its preset "Spring (helix)",
# the dialog still open beside the main window; and docs/dialog.png, the
# dialog alone with its presets and its drawing of the selected vertices,
# as they are and where a second Apply would put them.
#
#   scripts/screenshot.sh [BUILD-DIR]     (default: build)
#
# Configures and builds BUILD-DIR as needed, runs the viewer on a virtual X
# server (xvfb-run) and grabs the screen with ImageMagick's import; xvfb and
# imagemagick are installed when missing (scripts/need-packages.sh). Not part
# of the tests: run it by hand when the window's looks change.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=$root/docs/viewer.png
dialog=$root/docs/dialog.png

"$root/scripts/need-packages.sh" xvfb xauth imagemagick || exit 1

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja
fi
cmake --build "$build" -j2

# Run inside the viewer once its window is up: the dialog opened from the
# Tools menu, a preset chosen and applied, the dialog moved beside the main
# window over a desktop-coloured backdrop, then a grab of just that area.
script=$(cat <<'TCL'
set gap 16
wm geometry . 920x640+$gap+$gap
update
.menu.tools invoke [.menu.tools index "Corrugo..."]
update
set f .corrugo.f
$f.presets.choice set "Spring (helix)"
event generate $f.presets.choice <<ComboboxSelected>>
$f.apply invoke
update

# The menu bar sits above ".", so its bottom is the window's own.
set x [expr {[winfo rootx .] + [winfo width .] + $gap}]
wm geometry .corrugo +$x+$gap
update
set width [expr {$x + [winfo reqwidth .corrugo] + $gap}]
set height [expr {[winfo rooty .] + [winfo height .] + $gap}]
toplevel .backdrop -background #48525c
wm overrideredirect .backdrop 1
wm geometry .backdrop ${width}x$height+0+0
lower .backdrop
after 500 {set ready 1}
vwait ready
exec import -window root -crop ${width}x$height+0+0 +repage $out
exec import -window root -crop [winfo width .corrugo]x[winfo height .corrugo]+$x+$gap \
    +repage $dialog
exit 0
TCL
)

# The dialog's settings go to a folder of their own: the pictures show the
# built-in presets and first values, never the user's.
settings=$(mktemp -d)
trap 'rm -rf "$settings"' EXIT
cd "$root"
XDG_CONFIG_HOME=$settings xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$build/corrugo-host" --gui examples/tube.ac -c "set out {$out}; set dialog {$dialog}" \
    -c "$script"
echo "wrote $out and $dialog"
