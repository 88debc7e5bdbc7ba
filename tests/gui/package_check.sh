#!/usr/bin/env bash
# The Debian package as a packager checks it: the desktop entry and the
# AppStream description validate, and the package cpack makes from BUILD_DIR
# passes lintian --pedantic with every tag shown, but for the overridden
# program folder in /opt; it ships the commands as links into the program
# folder, the desktop files, no working zones database (postinst makes it)
# and nothing in /var/lib.
#   package_check.sh BUILD_DIR SOURCE_DIR
# Exit status: 0 passed, 1 failed, 77 skipped (a tool is missing; as root
# tools/setup.sh installs them).
set -euo pipefail

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2; exit 2; }
build=$1
packaging=$2/packaging
for tool in desktop-file-validate:desktop-file-utils appstreamcli:appstream lintian:lintian dpkg-shlibdeps:dpkg-dev; do
  command -v "${tool%%:*}" >/dev/null || skip "${tool%%:*} is not installed (Debian: ${tool#*:})"
done
[ -f "$build/packaging/man/addtarnvel-cli.1.gz" ] || skip "no manual pages: install help2man, then configure $build again"

desktop-file-validate "$packaging/addtarnvel.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$packaging/org.addtarnvel.addtarnvel.metainfo.xml" || fail "appstreamcli validate"

work=$(mktemp -d "${TMPDIR:-/tmp}/atv-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { tail -n 20 "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/addtarnvel_*.deb)
listing=$(dpkg-deb -c "$deb" | sed 's/^.* \.\//\//')
! grep -E '^/(opt/addtarnvel/TarnVel_Zones\.mdb|var/lib)' <<<"$listing" ||
  fail "the package ships what postinst makes, or a folder in /var/lib"
# The commands are links into the program folder, never copies; lintian
# checks the icons' sizes against their folders.
share=/usr/share
entries=("/usr/bin/addtarnvel -> /opt/addtarnvel/AddTarnVel" "/usr/bin/addtarnvel-cli -> /opt/addtarnvel/addtarnvel-cli"
  "/usr/bin/addtarnvel-dbquery -> /opt/addtarnvel/dbquery" $share/applications/addtarnvel.desktop
  $share/metainfo/org.addtarnvel.addtarnvel.metainfo.xml $share/icons/hicolor/scalable/apps/addtarnvel.svg
  $share/man/man1/addtarnvel.1.gz)
for size in 16 22 24 32 48 64 128 256; do entries+=("$share/icons/hicolor/${size}x${size}/apps/addtarnvel.png"); done
for entry in "${entries[@]}"; do grep -qxF "$entry" <<<"$listing" || fail "the package lacks $entry"; done
# lintian warns on stderr when run as root; its findings go to stdout.
report=$(lintian --pedantic --display-info --tag-display-limit 0 "$deb" 2>/dev/null || true)
[ -z "$report" ] || { echo "$report" >&2; fail "lintian --pedantic has findings"; }
echo "PASSED: desktop entry, AppStream description and lintian"
