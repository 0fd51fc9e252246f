#!/usr/bin/env bash
# Sets up, builds and runs TagSnip: run.sh [FOLDER]
# Without FOLDER it runs on a fresh sample library in a temporary folder.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
"$here/scripts/build.sh" "$here/build"

folder=${1:-}
if [ -z "$folder" ]; then
    folder=$(mktemp -d /tmp/tagsnip-sample-XXXXXX)
    "$here/scripts/make-sample-library.sh" "$folder"
    echo "Sample library: $folder"
fi
exec "$here/build/src/cli/tagsnip-cli" -s -t1 -t2 -m -p "$folder"
