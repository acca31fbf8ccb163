#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix and runs the installed self-test there.
set -eu
build_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/opt/kelvra-hub" >/dev/null
for path in bin/kelvra-hub Resources/app/server/desktop.js Helpers/node \
  Resources/icons/hicolor/scalable/apps/com.morvane.KelvraHub-tray.svg; do
  [ -e "$work/opt/kelvra-hub/$path" ] || { echo "missing $path"; exit 1; }
done
[ ! -e "$work/opt/kelvra-hub/Resources/app/server/test" ] || { echo "tests were installed"; exit 1; }
env -i HOME="$work/home" PATH=/usr/bin:/bin "$work/opt/kelvra-hub/bin/kelvra-hub" --smoke-test
grep -q "\[smoke\] Portable Kelvra Hub smoke test passed." \
  "$work/home/.local/state/Morvane/Kelvra Hub/kelvra-hub.log"
echo "installed layout passed its self-test"
