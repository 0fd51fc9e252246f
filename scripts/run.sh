#!/usr/bin/env bash
# Sets up, builds and runs TagSnip: run.sh [FOLDER]
# Without FOLDER it runs on a fresh sample library in a temporary folder. With a display it opens
# the window on the folder; without one it says so and cleans the folder with tagsnip-cli.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$here/build"

folder=${1:-}
window_options=()
if [ -z "$folder" ]; then
    folder=$(mktemp -d /tmp/tagsnip-sample-XXXXXX)
    "$here/scripts/make-sample-library.sh" "$folder"
    echo "Sample library: $folder"
    # The sample is there to be cleaned: start the run at once.
    window_options=(-s -t1 -t2 -r)
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec "$here/build/src/app/tagsnip" "$folder" "${window_options[@]}"
fi
echo "No display (DISPLAY is not set): the window cannot open here."
echo "Running the command-line tool instead: build/src/cli/tagsnip-cli -s -t1 -t2 -m -p FOLDER"
exec "$here/build/src/cli/tagsnip-cli" -s -t1 -t2 -m -p "$folder"
