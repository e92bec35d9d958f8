#!/usr/bin/env bash
# The main job on the bundled samples: shows what dibtool can do with this build.
set -euo pipefail
BUILD=${1:-build}
TOOL="$BUILD/tools/dibtool/dibtool"

echo "== dibtool --version"
"$TOOL" --version
echo
echo "== dibtool --help"
"$TOOL" --help
