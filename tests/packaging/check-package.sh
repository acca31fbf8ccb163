#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks a built package as a distribution would: lintian finds no errors, the desktop entry and
# AppStream metainfo validate, the manual page renders without warnings, the package holds what
# a desktop needs, an upgrade refreshes the keyboard access rule, and the unpacked application
# passes its own self-test.
# Usage: tests/packaging/check-package.sh path/to/kelvra-hub_*.deb
set -uo pipefail
deb=$1
failures=0
fail() {
  echo "check-package: $*" >&2
  failures=$((failures + 1))
}

root=$(mktemp -d)
home=$(mktemp -d)
trap 'rm -rf "$root" "$home"' EXIT
dpkg-deb -x "$deb" "$root" || fail "the package does not unpack"

lintian --fail-on error "$deb" || fail "lintian reports errors"

for path in opt/kelvra-hub/bin/kelvra-hub opt/kelvra-hub/Resources/app/server/desktop.js \
  usr/bin/kelvra-hub usr/share/applications/com.morvane.KelvraHub.desktop \
  usr/share/metainfo/com.morvane.KelvraHub.metainfo.xml \
  usr/share/icons/hicolor/scalable/apps/com.morvane.KelvraHub.svg \
  usr/share/icons/hicolor/16x16/apps/com.morvane.KelvraHub.png \
  usr/share/icons/hicolor/256x256/apps/com.morvane.KelvraHub.png \
  usr/share/man/man1/kelvra-hub.1.gz \
  usr/share/polkit-1/actions/com.morvane.KelvraHub.keyboard-access.policy \
  usr/share/doc/kelvra-hub/examples/70-kelvra-hub-keyboard-access.rules; do
  [ -e "$root/$path" ] || [ -L "$root/$path" ] || fail "missing $path"
done
# An upgrade refreshes a keyboard access rule through the helper the package itself ships.
refresher=$(dpkg-deb -I "$deb" postinst 2>/dev/null | grep -o '/opt/kelvra-hub/bin/[a-z-]* --refresh')
[ -f "$root${refresher%% *}" ] ||
  fail "the postinst does not refresh the rule with a packaged helper"
[ "$(readlink "$root/opt/kelvra-hub/Helpers/node")" = /usr/bin/node ] ||
  fail "Helpers/node does not point at the system's Node.js"
dpkg-deb -f "$deb" Depends | grep -q 'nodejs (>= 18)' || fail "no dependency on nodejs"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "library dependencies were not computed"

desktop-file-validate "$root/usr/share/applications/com.morvane.KelvraHub.desktop" ||
  fail "the desktop entry is not valid"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.morvane.KelvraHub.metainfo.xml" ||
  fail "the metainfo is not valid"
version=$(dpkg-deb -f "$deb" Version)
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/com.morvane.KelvraHub.metainfo.xml" ||
  fail "the metainfo has no release entry for $version"

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/kelvra-hub.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"

# The unpacked application, as a new user would start its self-test.
if env -i HOME="$home" PATH=/usr/bin:/bin "$root/opt/kelvra-hub/bin/kelvra-hub" --smoke-test; then
  grep -q "smoke test passed" "$home/.local/state/Morvane/Kelvra Hub/kelvra-hub.log" ||
    fail "the self-test did not log its success"
else
  fail "the unpacked application's self-test failed"
fi

[ "$failures" -eq 0 ]
