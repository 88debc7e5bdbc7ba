#!/usr/bin/env bash
# The Debian package as a packager checks it:
#   package_check.sh BUILD_DIR SOURCE_DIR            (ctest package.lintian) the desktop entry and the AppStream
#     description validate; cpack makes the package again byte for byte, every time the changelog's, no folder of
#     this machine named; lintian --pedantic finds what its per-file overrides name and no more; the files' layout.
#   package_check.sh BUILD_DIR SOURCE_DIR --install  (ctest package.install) dpkg as root in a private mount
#     namespace over a throwaway overlay of this machine's root, which is never changed (see inner_checks).
# Exit status: 0 passed, 1 failed, 77 skipped (a tool is missing, see tools/setup.sh; or no root or namespace).
set -euo pipefail

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
# logged LOG WHAT COMMAND...: runs the command with its output in LOG, shown when it fails.
logged() { local s=0; "${@:3}" >"$1" 2>&1 || s=$?; [ $s = 0 ] || { tail -n 40 "$1" >&2; fail "$2 (exit $s)"; }; }
# tree PATH: every entry under PATH with its type, mode, owner, size and time.
tree() { find "$1" -printf '%p %y %m %u %g %s %T@\n' | LC_ALL=C sort; }
owner() { stat -c '%U:%G %a' "$1"; }
listed() { (cd "$1" && LC_ALL=C ls | tr '\n' ' '); }

folder=/usr/lib/addtarnvel

# Runs as root inside the overlay (chroot), from CHECK_DIR holding the package and the demo shop's script.
inner_checks() {
  local deb demo_sql=$1/demo-shop.sql check=/srv/atv-check
  deb=$(echo "$1"/addtarnvel_*.deb)
  export PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive
  # A clean start within the overlay, also where this machine has the package.
  dpkg --purge addtarnvel >/dev/null 2>&1 || true
  rm -rf "$folder" /var/lib/addtarnvel "$check"
  ! getent group addtarnvel >/dev/null || groupdel addtarnvel

  # Another program's folder that happens to bear the name, with the name an earlier layout used for its
  # zones database among its files.
  mkdir -p /var/lib/addtarnvel/backups "$check"
  echo "a shop's backup" >/var/lib/addtarnvel/backups/Mailvoro-2024.mdb
  echo "not the package's" >/var/lib/addtarnvel/TarnVel_Zones.mdb
  chown -R nobody:nogroup /var/lib/addtarnvel
  chmod 0755 "$check"
  unrelated=$(tree /var/lib/addtarnvel)

  # A link in place of the program folder: configure fails, and the folder it points to keeps owner and mode.
  mkdir -m 0777 "$check/elsewhere" && chown nobody:nogroup "$check/elsewhere"
  ln -s "$check/elsewhere" "$folder"
  ! dpkg -i "$deb" >"$check/dpkg.log" 2>&1 || fail "configure took a link for the program folder"
  [ "$(dpkg-query -W -f='${Status}' addtarnvel)" = "install ok half-configured" ] ||
    { cat "$check/dpkg.log" >&2; fail "dpkg -i failed before configure"; }
  [ "$(owner "$check/elsewhere")" = "nobody:nogroup 777" ] || fail "configure changed the folder the link points to"
  dpkg --purge addtarnvel >/dev/null
  rm -f "$folder"

  for action in install:0777 reinstall:2777; do  # the action, and the mode the program folder and Data/ have before
    mode=${action#*:} action=${action%:*}
    mkdir -p "$folder" && chown nobody:nogroup "$folder" && chmod "$mode" "$folder"
    [ "$action" = install ] || { mkdir -p "$folder/Data" && chmod "$mode" "$folder/Data"; }
    logged "$check/dpkg.log" "dpkg -i ($action)" dpkg -i "$deb"
    for dir in "$folder" "$folder/Data"; do
      [ -d "$dir" ] && [ ! -L "$dir" ] && [ "$(owner "$dir")" = "root:root 755" ] ||
        fail "$action over a $mode program folder left $dir $(owner "$dir")"
    done
    [ "$(tree /var/lib/addtarnvel)" = "$unrelated" ] || fail "$action changed /var/lib/addtarnvel, which is not the package's"
    ! getent group addtarnvel >/dev/null || fail "$action made a group addtarnvel"
  done

  # The installed program folder: exactly the programs and the carrier's files, reached through /usr/bin.
  [ "$(listed "$folder")" = "AddTarnVel Data TarnVel.jpg TarnVelEODManifest.rpt TarnVel_Generic.lab \
TarnVel_Services.mdb TarnVel_Zones_Empty.mdb addtarnvel-cli dbquery " ] || fail "$folder holds: $(listed "$folder")"
  for program in addtarnvel addtarnvel-cli addtarnvel-dbquery; do [ -x "/usr/bin/$program" ] || fail "no /usr/bin/$program"; done

  # nobody, who may write the shop's folder and nothing else, installs the service and leaves nothing in its
  # temporary folder; so does root. Neither changes a byte or a mode of the program folder.
  laid_out=$(tree "$folder")
  for shop in nobody root; do
    mkdir -p "$check/$shop/tmp"
    addtarnvel-dbquery --init "$check/$shop/Mailvoro.mdb" "$demo_sql" >/dev/null
    chown -R "$shop:$(id -gn "$shop")" "$check/$shop"
    operator=(setpriv --reuid="$shop" --regid="$(id -g "$shop")" --clear-groups -- env -i PATH=/usr/bin:/bin
              HOME=/nonexistent TMPDIR="$check/$shop/tmp" QT_QPA_PLATFORM=offscreen)
    for run in "--zip 10001 --yes" --verify; do  # the installation, then its check
      logged "$check/$shop.log" "addtarnvel-cli $run by $shop" "${operator[@]}" addtarnvel-cli $run "$check/$shop/Mailvoro.mdb"
    done
    [ -z "$(ls -A "$check/$shop/tmp")" ] || fail "the run by $shop left files in its temporary folder"
    [ "$(tree "$folder")" = "$laid_out" ] || fail "the run by $shop changed the program folder"
  done

  # Purge: none of the package's files, folders or links is left, and the unrelated folder is as it was.
  logged "$check/dpkg.log" "dpkg --purge" dpkg --purge addtarnvel
  left=$( (dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }'; echo "$folder"
           echo /usr/share/doc/addtarnvel) | while read -r path; do [ ! -e "$path" ] && [ ! -L "$path" ] || echo "$path"; done)
  [ -z "$left" ] || fail "purge left: $left"
  [ "$(tree /var/lib/addtarnvel)" = "$unrelated" ] || fail "purge changed /var/lib/addtarnvel, which is not the package's"
  rm -rf "$check" /var/lib/addtarnvel
}

# Runs as root in a private mount namespace: inner_checks in a throwaway overlay over this machine's root, then
# every file the overlay gained that the machine does not have and no bookkeeping explains.
namespace_checks() {
  local work=$1 deb=$2 demo_sql=$3
  mount --make-rprivate /
  mount -t tmpfs -o mode=0700 atv-overlay "$work/layers"
  mkdir "$work/layers/upper" "$work/layers/work" "$work/layers/root"
  local upper=$work/layers/upper root=$work/layers/root
  mount -t overlay atv-overlay -o "lowerdir=/,upperdir=$upper,workdir=$work/layers/work" "$root"
  for system in proc dev; do mount --rbind "/$system" "$root/$system"; done
  mkdir -p "$root/tmp/atv-check" && cp "$0" "$deb" "$demo_sql" "$root/tmp/atv-check/"
  chroot "$root" /bin/bash /tmp/atv-check/package_check.sh --inner /tmp/atv-check
  # dpkg's own records and logs, and the caches its triggers remake, are not the package's.
  new=$(cd "$upper" && find . -mindepth 1 ! -type c -printf '%P\n' |
        grep -vE '^(tmp|var/lib/dpkg|var/log|var/cache/man|var/cache/debconf)(/|$)' |
        while read -r path; do [ -e "/$path" ] || [ -L "/$path" ] || echo "/$path"; done)
  [ -z "$new" ] || fail "after purge the machine would keep: $(head -n 20 <<<"$new")"
}

case "${1:-}" in
  --inner) inner_checks "$2"; exit 0 ;;
  --namespace) namespace_checks "${@:2}"; exit 0 ;;
esac

[[ $# -eq 2 || ($# -eq 3 && $3 = --install) ]] || { echo "usage: $0 BUILD_DIR SOURCE_DIR [--install]" >&2; exit 2; }
build=$1 source_dir=$2 packaging=$2/packaging install_checks=${3:+yes}
tools="lintian:lintian dpkg-shlibdeps:dpkg-dev desktop-file-validate:desktop-file-utils appstreamcli:appstream ar:binutils"
[ -z "$install_checks" ] || tools="dpkg-shlibdeps:dpkg-dev unshare:util-linux setpriv:util-linux"
for tool in $tools; do
  command -v "${tool%%:*}" >/dev/null || skip "${tool%%:*} is not installed (Debian: ${tool#*:})"
done
[ -f "$build/packaging/man/addtarnvel-cli.1.gz" ] || skip "no manual pages: install help2man, then configure $build again"
if [ -n "$install_checks" ]; then
  [ "$(id -u)" = 0 ] || skip "installing the package needs root"
  unshare --mount sh -c 'mount -t tmpfs none /mnt' 2>/dev/null || skip "no private mount namespace can be made here"
  grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null || skip "the kernel has no overlay file system"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/atv-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
# As ./package does it: a narrow umask would narrow the package's folders.
(umask 022 && logged "$work/cpack.log" cpack cpack --config "$build/CPackConfig.cmake" -B "$work")
deb=$(ls "$work"/addtarnvel_*.deb)

if [ -n "$install_checks" ]; then
  # Every package it depends on must be installed here: the overlay has only what the machine has.
  for dependency in $(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/|[^,]*//g; s/,/ /g'); do
    dpkg-query -W -f='${Status}' "$dependency" 2>/dev/null | grep -q "install ok installed" ||
      skip "the package's dependency $dependency is not installed"
  done
  mkdir "$work/layers"
  unshare --mount --fork "$0" --namespace "$work" "$deb" "$source_dir/data/demo-shop.sql"
  echo "PASSED: configure, installations by nobody and root, purge"
  exit 0
fi

desktop-file-validate "$packaging/addtarnvel.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic "$packaging/org.addtarnvel.addtarnvel.metainfo.xml" || fail "appstreamcli validate"

# type, mode, owner and path of every entry, and where a link points.
listing=$(dpkg-deb -c "$deb" | awk '{ sub(/^\./, "", $6); print substr($1, 1, 1), $1, $2, $6 ($7 == "->" ? " -> " $8 : "") }')
! grep -E ' /(opt|var)(/|$)|/TarnVel_Zones\.mdb$' <<<"$listing" || fail "in /opt or /var, or a working zones database"
odd=$(grep -vE "^(d drwxr-xr-x root/root /.*|- -rw-r--r-- root/root /.*|l lrwxrwxrwx root/root /usr/bin/.*|\
- -rwxr-xr-x root/root $folder/(AddTarnVel|addtarnvel-cli|dbquery))$" <<<"$listing" || true)
[ -z "$odd" ] || fail "not root's, or not a folder or program of 0755 or a file of 0644: $odd"
# The commands are relative links into the program folder, never copies; lintian checks the icons' sizes against
# their folders. (Every entry is root's: see above.)
present=$(cut -d' ' -f2,4- <<<"$listing")
for entry in "drwxr-xr-x $folder/"{,Data/} "-rwxr-xr-x $folder/"{AddTarnVel,addtarnvel-cli,dbquery} \
    "lrwxrwxrwx /usr/bin/addtarnvel -> ../lib/addtarnvel/AddTarnVel" \
    "lrwxrwxrwx /usr/bin/addtarnvel-cli -> ../lib/addtarnvel/addtarnvel-cli" \
    "lrwxrwxrwx /usr/bin/addtarnvel-dbquery -> ../lib/addtarnvel/dbquery" \
    "-rw-r--r-- $folder/"{TarnVel_Zones_Empty.mdb,TarnVel_Services.mdb,TarnVelEODManifest.rpt,TarnVel.jpg,TarnVel_Generic.lab} \
    "-rw-r--r-- /usr/share/"{applications/addtarnvel.desktop,metainfo/org.addtarnvel.addtarnvel.metainfo.xml} \
    "-rw-r--r-- /usr/share/"{icons/hicolor/scalable/apps/addtarnvel.svg,man/man1/addtarnvel.1.gz} \
    "-rw-r--r-- /usr/share/icons/hicolor/"{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/addtarnvel.png; do
  grep -qxF -e "$entry" <<<"$present" || fail "the package lacks $entry"
done
charts=$(grep -c "^- -rw-r--r-- root/root $folder/Data/TarnVel_[0-9]*\.csv$" <<<"$listing" || true)
built=$(find "$build/bin/Data" -name 'TarnVel_*.csv' | wc -l)
[ "$charts" -gt 0 ] && [ "$charts" -eq "$built" ] || fail "the package holds $charts zone charts, the build $built"

# Reproducible: cpack run again (a second later, elsewhere, another time zone and locale, no SOURCE_DATE_EPOCH) makes
# the same bytes. What the build writes (two builds: `./package DIR` twice, then cmp) is checked below: every file,
# folder and member bears the changelog's date, so do help2man's pages; no file names the source or build folder.
epoch=$(dpkg-parsechangelog -STimestamp -l "$packaging/changelog") || fail "dpkg-parsechangelog"
sleep 1
mkdir -p "$work/again/elsewhere"
(umask 022 && logged "$work/cpack-again.log" "cpack again" env -u SOURCE_DATE_EPOCH TZ=ATV-14 LC_ALL=C \
   cpack --config "$build/CPackConfig.cmake" -B "$work/again/elsewhere")
cmp "$deb" "$work"/again/elsewhere/addtarnvel_*.deb ||
  fail "cpack run twice on one build made two different packages (diffoscope tells how they differ)"
dpkg-deb --fsys-tarfile "$deb" >"$work/data.tar" && dpkg-deb --ctrl-tarfile "$deb" >"$work/control.tar" ||
  fail "dpkg-deb cannot take the package apart"
# times ARCHIVE WANT FIELDS LISTER...: the times LISTER prints for each member of ARCHIVE (awk's FIELDS) are WANT.
times() {
  local seen
  seen=$("${@:4}" "$1" | awk "{ print $3 }") && [ -n "$seen" ] || fail "no times could be read from $1"
  seen=$(grep -vxF -e "$2" <<<"$seen" | LC_ALL=C sort -u || true)
  [ -z "$seen" ] || fail "$1 holds times other than the changelog's $2: $seen"
}
for tar in data control; do
  times "$work/$tar.tar" "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" '$4, $5' env TZ=UTC tar -tv --full-time -f
done
times "$deb" "$(LC_ALL=C date -u -d "@$epoch" '+%b %-d %H:%M %Y')" '$4, $5, $6, $7' env TZ=UTC LC_ALL=C ar tv
mkdir "$work/tree"
tar -xf "$work/data.tar" -C "$work/tree" --no-same-owner || fail "the data archive does not unpack"
month=$(LC_ALL=C date -u -d "@$epoch" '+%B %Y')
for page in addtarnvel-cli addtarnvel-dbquery; do
  title=$(zcat "$work/tree/usr/share/man/man1/$page.1.gz" | grep '^\.TH')
  grep -q "^\.TH [^ ]* \"1\" \"$month\"" <<<"$title" || fail "$page(1) is not dated $month, the changelog's: $title"
done
for folder_name in "$(cd "$build" && pwd -P)" "$(cd "$source_dir" && pwd -P)"; do
  leaked=$(grep -rlaF -e "$folder_name/" "$work/tree" || true)
  [ -z "$leaked" ] || fail "the package's files name the folder $folder_name: $leaked"
done

# lintian with no override honoured finds exactly what the package's overrides name, each one tag on one
# file: no blanket override, none stale. (lintian warns on stderr when run as root; its findings go to stdout.)
overrides=$(grep -v '^#' "$packaging/lintian-overrides" | grep . | LC_ALL=C sort)
blanket=$(grep -vE '^addtarnvel: [a-z0-9-]+ \[[^]*?[]+\]$' <<<"$overrides" || true)
[ -z "$blanket" ] || fail "a lintian override not for one file: $blanket"
status=0
report=$(lintian --pedantic --no-override --display-info --tag-display-limit 0 "$deb" 2>"$work/lintian.err") || status=$?
[ "$status" -le 1 ] || { cat "$work/lintian.err" >&2; fail "lintian did not run (exit $status)"; }
# lintian spells a binary's strings; the compiler builds some texts from overlapping 16-byte pieces ("...added succ"
# and "ed successfully !" read "succed"): a misspelling no source file holds as a word is such a piece.
report=$(while IFS= read -r line; do
  [[ $line =~ spelling-error-in-binary\ ([^ ]+)\  ]] &&
    ! grep -rqw --include="*.cpp" --include="*.h" -e "${BASH_REMATCH[1]}" "$source_dir"/{app,carrier,db,util,platform,tools} ||
    printf '%s\n' "$line"
done <<<"$report")
[ "$(sed -E 's/^[A-Z]: //' <<<"$report" | grep . | LC_ALL=C sort)" = "$overrides" ] ||
  { echo "$report" >&2; fail "lintian --pedantic finds other than the package's overrides name"; }
echo "PASSED: desktop files, the package's layout, made again byte for byte, and lintian"
