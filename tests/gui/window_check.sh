#!/usr/bin/env bash
# The real window under a virtual X server, driven from the keyboard as an
# operator would: open AddTarnVel on a demo shop at the path it starts with,
# press Return in the path box (which does nothing), go back to the add
# button and press it with Return, answer the ZIP code 10001 and OK, and
# check the success box and the new [Master] and [Panel] rows.
#
#   window_check.sh PROGRAM_DIR DEMO_SQL                   the check
#   window_check.sh PROGRAM_DIR DEMO_SQL --screenshot PNG  a picture of the window instead
#   window_check.sh PROGRAM_DIR DEMO_SQL --sizes DIR       the window at the default font, at
#       13 pt and at QT_SCALE_FACTOR=2, each after a cancelled ZIP question (the add button
#       pressed with Space) so that the status panel holds a text: its size is checked, and
#       its picture is left in DIR to look at
#
# Nothing outside a temporary folder is touched: the program runs from a copy
# of PROGRAM_DIR (every installation rewrites the working zones database in
# the program folder), and in a private mount namespace where a temporary
# folder is bound over /opt, so that the demo shop sits at
# /opt/Mailvoro/Mailvoro.mdb while the real /opt stays as it is.
# Exit status: 0 passed, 1 failed, 77 skipped (a tool or privilege is missing).
set -euo pipefail

readonly kSkip=77
readonly kCaption='Add TARN-VEL Service 1.0.3'
readonly kInputTitle='Install TARN-VEL?'
readonly kQuestionTitle='New TARN-VEL Service is Available!'
readonly kResultTitle='Add Service'
readonly kZip=10001
readonly kService=TARNVEL-GND
readonly kShop=/opt/Mailvoro/Mailvoro.mdb
readonly kDesignSize=393x122  # the window at the default font

skip() { echo "SKIPPED: $*"; exit "$kSkip"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
regex() { printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$?+(){}|/]/\\&/g')"; }

# find_window TITLE [SECONDS]: the id of the visible window with exactly that title.
find_window() {
  timeout "${2:-20}" xdotool search --sync --onlyvisible --name "$(regex "$1")" 2>/dev/null | head -n1
}

# focus_window ID: without a window manager nothing gives a new window the
# focus, so every window is focused before it is typed into.
focus_window() {
  xdotool windowactivate --sync "$1" 2>/dev/null || true
  xdotool windowfocus --sync "$1"
}

show_windows() {
  echo "Windows on the display:" >&2
  for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    echo "  $id: $(xdotool getwindowname "$id" 2>/dev/null)" >&2
  done
}

# start_window WORK [QT_ARGUMENT...]: starts the program and sets main to its window.
start_window() {
  local work=$1
  shift
  "$work/bin/AddTarnVel" "$@" >"$work/window.log" 2>&1 &
  app_pid=$!
  main=$(find_window "$kCaption") || true
  [ -n "$main" ] || { show_windows; cat "$work/window.log" >&2; fail "no window titled \"$kCaption\""; }
  focus_window "$main"
}

stop_window() {
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
}

# answer TITLE KEY...: waits for the window of that title and presses the keys.
answer() {
  local title=$1 id
  shift
  id=$(find_window "$title" 60) || true
  [ -n "$id" ] || { show_windows; fail "no window titled \"$title\""; }
  focus_window "$id"
  xdotool key "$@"
}

# shot WORK PNG EXPECTED_SIZE|larger [QT_ARGUMENT...]: the window after a
# cancelled ZIP question, its picture and its size on the screen.
shot() {
  local work=$1 png=$2 expected=$3
  shift 3
  start_window "$work" "$@"
  xdotool key --window "$main" space
  answer "$kInputTitle" Escape
  answer "$kResultTitle" Return
  sleep 1  # let the status text be painted
  import -window "$main" "$png"
  local size
  size=$(xdotool getwindowgeometry --shell "$main" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | paste -sd x)
  stop_window
  echo "$(basename "$png"): $size"
  [ "$size" = "$expected" ] || { [ "$expected" = larger ] && [ "${size%x*}" -gt "${kDesignSize%x*}" ] &&
    [ "${size#*x}" -gt "${kDesignSize#*x}" ]; } || fail "$(basename "$png"): the window is $size, expected $expected"
}

# Runs on the virtual display, inside the namespace: drives the window.
drive() {
  local work=$1 mode=${2:-} target=${3:-}
  export QT_QPA_PLATFORM=xcb
  app_pid=""
  trap stop_window EXIT
  case "$mode" in
    --screenshot)
      start_window "$work"
      sleep 1  # let the first paint finish
      import -window "$main" "$target"
      echo "Window \"$kCaption\" saved as $target"
      return 0 ;;
    --sizes)
      printf '* { font-size: 13pt; }\n' >"$work/13pt.qss"
      shot "$work" "$target/window-default.png" "$kDesignSize"
      shot "$work" "$target/window-13pt.png" larger -stylesheet "$work/13pt.qss"
      QT_SCALE_FACTOR=2 shot "$work" "$target/window-scale2.png" "$((2 * ${kDesignSize%x*}))x$((2 * ${kDesignSize#*x}))"
      echo "Pictures of the window: $target"
      return 0 ;;
  esac

  start_window "$work"
  # The add button has the focus at start; Return in the path box presses
  # nothing, so no ZIP question comes up.
  xdotool key --window "$main" Tab Return
  local early
  early=$(find_window "$kInputTitle" 2) || true
  [ -z "$early" ] || fail "Return in the path box pressed the add button"
  xdotool key --window "$main" shift+Tab Return
  answer "$kInputTitle" $(grep -o . <<<"$kZip") Return
  answer "$kQuestionTitle" Return
  answer "$kResultTitle" Return
  echo "The box \"$kResultTitle\" came up."
}

# Runs as root of a private mount namespace: puts the demo shop at its path.
inner() {
  local work=$1
  shift
  mount --make-rprivate / 2>/dev/null || true
  mount --bind "$work/opt" /opt
  [ -f "$kShop" ] || fail "the demo shop is not at $kShop inside the namespace"
  # -displayfd lets the server pick a free display itself, so that checks
  # running side by side do not race for one.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
  local tries=0
  until [ -s "$work/display" ]; do
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; skip "the virtual X server did not start"; }
    [ $((tries += 1)) -le 100 ] || fail "the virtual X server gave no display number in 10 s"
    sleep 0.1
  done
  DISPLAY=:$(head -n1 "$work/display") "$0" --drive "$work" "$@"
}

case "${1:-}" in
  --inner) shift; inner "$@"; exit ;;
  --drive) shift; drive "$@"; exit ;;
esac

[ $# -ge 2 ] || { echo "usage: $0 PROGRAM_DIR DEMO_SQL [--screenshot PNG | --sizes DIR]" >&2; exit 2; }
program_dir=$(cd "$1" && pwd)
demo_sql=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
mode=${3:-}
target=""
case "$mode" in
  "") ;;
  --screenshot) [ -n "${4:-}" ] || { echo "--screenshot needs a file name" >&2; exit 2; }
                target=$(cd "$(dirname "$4")" && pwd)/$(basename "$4") ;;
  --sizes) [ -n "${4:-}" ] || { echo "--sizes needs a folder" >&2; exit 2; }
           mkdir -p "$4" && target=$(cd "$4" && pwd) ;;
  *) echo "unknown option $mode" >&2; exit 2 ;;
esac

for tool in Xvfb xdotool unshare; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (Debian: xvfb, xdotool, util-linux)"
done
[ -z "$mode" ] || command -v import >/dev/null || skip "import is not installed (Debian: imagemagick)"
[ -x "$program_dir/AddTarnVel" ] || fail "$program_dir/AddTarnVel is not built"
[ -d /opt ] || skip "there is no /opt to bind the demo shop's folder over"

# As root a mount namespace is enough; otherwise a user namespace makes the
# caller root of it, where the kernel allows that.
if [ "$(id -u)" = 0 ] && unshare --mount true 2>/dev/null; then
  namespace=(unshare --mount)
elif unshare --map-root-user --mount true 2>/dev/null; then
  namespace=(unshare --map-root-user --mount)
else
  skip "no private mount namespace can be made here (unshare needs root or user namespaces)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/atv-window.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -a "$program_dir" "$work/bin"
mkdir -p "$work/opt/Mailvoro"
"$work/bin/dbquery" --init "$work/opt/Mailvoro/Mailvoro.mdb" "$demo_sql" >/dev/null
shop=$work/opt/Mailvoro/Mailvoro.mdb
panels_before=$("$work/bin/dbquery" "$shop" "Select Count(*) As N From [Panel]" | tail -n1)

if [ -n "$mode" ]; then
  "${namespace[@]}" "$0" --inner "$work" "$mode" "$target"
  exit
fi
"${namespace[@]}" "$0" --inner "$work"

# The rows the installation wrote into the demo shop.
master=$("$work/bin/dbquery" "$shop" "Select [Service], [Carrier], [Type] From [Master] Where [Service] = '$kService'" | tail -n +2)
[ "$master" = "$(printf '%s\tTARN-VEL\tTARN-VEL' "$kService")" ] ||
  fail "[Master] has no new $kService record (got: '$master'); window log: $(cat "$work/window.log")"
panels_after=$("$work/bin/dbquery" "$shop" "Select Count(*) As N From [Panel]" | tail -n1)
[ "$panels_after" -eq $((panels_before + 1)) ] || fail "[Panel] has $panels_after rows, expected $((panels_before + 1))"
panel=$("$work/bin/dbquery" "$shop" "Select Top 1 [PanelIndex], [SV1] From [Panel] Order By [PanelIndex] DESC" | tail -n1)
[ "$(cut -f2 <<<"$panel")" = "$kService" ] || fail "the new [Panel] row does not carry $kService (got: '$panel')"
echo "[Master]: $master"
echo "[Panel]:  $panel"
echo "PASSED: the window added $kService to the demo shop"
