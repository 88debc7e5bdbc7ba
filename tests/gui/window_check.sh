#!/usr/bin/env bash
# The real window under a virtual X server, driven from the keyboard: AddTarnVel opens on the demo shop at its
# default path (in a private mount namespace, a temporary folder bound over /opt); Return in the path box presses
# nothing; on the add button Return, 10001 and OK add the service, seen in the new [Master] and [Panel] rows.
#   window_check.sh PROGRAM_DIR DEMO_SQL [--screenshot PNG | --sizes DIR]: instead, a picture of the window; or its
#   size (pictures left in DIR) at the default font, 13 pt and QT_SCALE_FACTOR=2 after a cancelled question.
# Exit status: 0 passed, 1 failed, 77 skipped (a tool or privilege is missing).
set -euo pipefail

readonly kCaption='Add TARN-VEL Service 1.0.3' kInputTitle='Install TARN-VEL?' kResultTitle='Add Service'
readonly kQuestionTitle='New TARN-VEL Service is Available!' kShop=/opt/Mailvoro/Mailvoro.mdb kDesignSize=393x122

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }

# search TITLE SECONDS: the id of the visible window of exactly that title.
search() {
  timeout "$2" xdotool search --sync --onlyvisible --name "^$(sed 's/[][\.*^$?+(){}|/]/\\&/g' <<<"$1")\$" 2>/dev/null |
    head -n1
}

# window TITLE [SECONDS]: that window, focused (without a window manager nothing gives a new window the focus).
window() {
  local id=$(search "$1" "${2:-20}")  # empty when there is none
  [ -n "$id" ] || fail "no window titled \"$1\" among: $(xdotool search --onlyvisible --name . getwindowname %@ 2>&1 | paste -sd '|')"
  xdotool windowactivate --sync "$id" 2>/dev/null || true
  xdotool windowfocus --sync "$id"
  echo "$id"
}

# start [QT_ARGUMENT...]: the program on the demo shop, its window in main.
start() {
  "$work/bin/AddTarnVel" "$@" >"$work/window.log" 2>&1 &
  app=$!
  main=$(window "$kCaption") || { cat "$work/window.log" >&2; exit 1; }
}

stop() { kill "${app:-}" 2>/dev/null || true; wait "${app:-}" 2>/dev/null || true; }

answer() { window "$1" 60 >/dev/null && xdotool key "${@:2}"; }  # TITLE KEY...: keys pressed in that window

# shot PNG EXPECTED_SIZE|larger [QT_ARGUMENT...]: the window after a cancelled ZIP question, its picture and size.
shot() {
  local png=$1 expected=$2 size
  start "${@:3}"
  xdotool key --window "$main" space
  answer "$kInputTitle" Escape
  answer "$kResultTitle" Return
  sleep 1  # let the status text be painted
  import -window "$main" "$png"
  size=$(xdotool getwindowgeometry --shell "$main" | sed -n 's/^WIDTH=//p; s/^HEIGHT=//p' | paste -sd x)
  stop
  [ "$size" = "$expected" ] || { [ "$expected" = larger ] && [ "${size%x*}" -gt "${kDesignSize%x*}" ] &&
    [ "${size#*x}" -gt "${kDesignSize#*x}" ]; } || fail "$(basename "$png"): the window is $size, expected $expected"
}

# Runs on the virtual display, inside the namespace: drives the window.
drive() {
  export QT_QPA_PLATFORM=xcb
  trap stop EXIT
  case "${1:-}" in
    --screenshot) start && sleep 1 && import -window "$main" "$2"; return ;;  # after the first paint
    --sizes)
      printf '* { font-size: 13pt; }\n' >"$work/13pt.qss"
      shot "$2/window-default.png" "$kDesignSize"
      shot "$2/window-13pt.png" larger -stylesheet "$work/13pt.qss"
      QT_SCALE_FACTOR=2 shot "$2/window-scale2.png" "$((2 * ${kDesignSize%x*}))x$((2 * ${kDesignSize#*x}))"
      return ;;
  esac
  start
  # The add button has the focus at start; Return in the path box brings no ZIP question.
  xdotool key --window "$main" Tab Return
  [ -z "$(search "$kInputTitle" 2)" ] || fail "Return in the path box pressed the add button"
  xdotool key --window "$main" shift+Tab Return
  answer "$kInputTitle" 1 0 0 0 1 Return
  answer "$kQuestionTitle" Return
  answer "$kResultTitle" Return
}

# Runs as root of a private mount namespace: puts the demo shop at its path and starts the virtual display.
inner() {
  mount --make-rprivate / 2>/dev/null || true
  mount --bind "$work/opt" /opt
  # -displayfd: the server picks a free display itself, so that checks side by side do not race for one.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb=$!
  trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true' EXIT
  for _ in $(seq 100); do [ -s "$work/display" ] || ! kill -0 "$xvfb" 2>/dev/null || sleep 0.1; done
  [ -s "$work/display" ] || { kill -0 "$xvfb" 2>/dev/null || skip "the virtual X server did not start: $(cat "$work/xvfb.log")"
    fail "the virtual X server gave no display number in 10 s"; }
  DISPLAY=:$(head -n1 "$work/display") "$0" --drive "$work" "$@"
}

case "${1:-}" in
  --inner | --drive) work=$2 && "${1#--}" "${@:3}"; exit ;;
esac

[[ $# -eq 2 || ($# -eq 4 && $3 =~ ^--(screenshot|sizes)$) ]] ||
  { echo "usage: $0 PROGRAM_DIR DEMO_SQL [--screenshot PNG | --sizes DIR]" >&2; exit 2; }
program_dir=$(cd "$1" && pwd) demo_sql=$(realpath "$2") mode=()
[ "${3:-}" != --sizes ] || mkdir -p "$4"
[ $# -eq 2 ] || mode=("$3" "$(realpath "$4")")
for tool in Xvfb xdotool unshare; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
[ $# -eq 2 ] || command -v import >/dev/null || skip "import is not installed (Debian: imagemagick)"
[ -x "$program_dir/AddTarnVel" ] || fail "$program_dir/AddTarnVel is not built"
[ -d /opt ] || skip "there is no /opt to bind the demo shop's folder over"
# As root a mount namespace is enough; otherwise a user namespace makes the caller root of it, where allowed.
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
"$work/bin/dbquery" --init "$work$kShop" "$demo_sql" >/dev/null
query() { "$work/bin/dbquery" "$work$kShop" "$1" | tail -n +2; }
added() {  # the service's [Master] record, the number of [Panel] rows and the last one's service
  query "Select [Carrier], [Type] From [Master] Where [Service] = 'TARNVEL-GND'"
  query "Select Count(*) As N From [Panel]" && query "Select Top 1 [SV1] From [Panel] Order By [PanelIndex] DESC"
}
panels=$(query "Select Count(*) As N From [Panel]")
"${namespace[@]}" "$0" --inner "$work" "${mode[@]}"
[ $# -eq 2 ] || exit 0
[ "$(added)" = "$(printf 'TARN-VEL\tTARN-VEL\n%s\nTARNVEL-GND' $((panels + 1)))" ] ||
  fail "the rows added: $(added); window log: $(cat "$work/window.log")"
echo "PASSED: the window added TARNVEL-GND to the demo shop"
