#!/bin/sh
# Pictures of the main window for a look at the layout, under a virtual X
# display with the real (xcb) rendering:
#   tests/screenshots.sh <build folder> <output folder>
# Builds nothing: the build folder needs bin/velmor and
# bin/velmor_layout_shots (cmake --build <build> --target velmor velmor_layout_shots).
# Writes page1.png, page2.png, page3.png (each page of the notebook),
# mnPort.png and mnHelp.png (the two menus opened) and velmor.png (the whole
# virtual screen a moment after the panel itself has started).
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 <build folder> <output folder>" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)

for exe in velmor velmor_layout_shots; do
    if [ ! -x "$build/bin/$exe" ]; then
        echo "$0: $build/bin/$exe is missing; build it first" >&2
        exit 1
    fi
done
command -v xvfb-run >/dev/null || { echo "$0: xvfb-run is not installed" >&2; exit 1; }

screen="-screen 0 1280x1024x24"

# The pages and menus, grabbed by the window itself.
QT_QPA_PLATFORM=xcb xvfb-run -a -s "$screen" "$build/bin/velmor_layout_shots" "$out"

# The panel as it starts, from a copy of the program in a scratch folder so
# that its settings file does not land in the build folder.
if command -v import >/dev/null; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    cp "$build/bin/velmor" "$build/bin/libvelmor.so" "$scratch/"
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "$screen" sh -c '
        "$1/velmor" & pid=$!
        sleep 2
        import -window root "$2/velmor.png"
        kill "$pid"
        wait "$pid" 2>/dev/null || true
    ' sh "$scratch" "$out"
    echo "$out/velmor.png"
else
    echo "$0: ImageMagick import is not installed; velmor.png skipped" >&2
fi
