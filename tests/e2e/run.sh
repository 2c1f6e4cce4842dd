#!/usr/bin/env bash
# Uses the real program as a person would, on a private X server with a window manager: opens a
# picture, steps, zooms and comes back; encrypts three pictures with a new password and checks
# the containers on disk; sets a PIN, fails it once while keys are sent from the first moment,
# then passes it.
#
#   tests/e2e/run.sh BUILD_DIR
#
# BUILD_DIR holds bin/quillix, bin/quillix-crypt and bin/quillix-samples. Screenshots of what was
# on screen go to BUILD_DIR/e2e/. Needs Xvfb, openbox, xdotool, ImageMagick, and for finding
# widgets by their accessible names a D-Bus session with AT-SPI (dbus-daemon, at-spi2-core,
# python3-gi, gir1.2-atspi-2.0).
set -euo pipefail

# A session bus of its own, on which the accessibility bus is started.
if [ -z "${QUILLIX_E2E_OWN_BUS:-}" ]; then
  QUILLIX_E2E_OWN_BUS=1 exec dbus-run-session -- "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)

build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
shots=$build/e2e
mkdir -p "$shots"
rm -f "$shots"/*.png

work=$(mktemp -d)
xvfb_pid="" wm_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "e2e: FAILED: $*" >&2
  [ -n "${DISPLAY:-}" ] && import -window root "$shots/failure.png" 2>/dev/null
  echo "e2e: the screen at the failure: $shots/failure.png" >&2
  exit 1
}
step() { echo "e2e: $*"; }

# A private X server of its own, so that nothing the person at the machine does gets in the way.
for n in $(seq 120 199); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=:$n; break; fi
done
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
export DISPLAY=$display
openbox >/dev/null 2>&1 &
wm_pid=$!
for _ in $(seq 100); do xdotool get_num_desktops >/dev/null 2>&1 && break; sleep 0.1; done
xdotool get_num_desktops >/dev/null 2>&1 || fail "the window manager did not start"
# The program exposes its widgets only when the accessibility bus is up as it starts.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
/usr/bin/python3 "$here/widget_at.py" || fail "the accessibility bus did not start"

# A scratch user: settings, registration and the program's own folder all live in $work.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
export XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
mkdir -p "$work/bin"
cp "$build/bin/quillix" "$build/bin/quillix-crypt" "$work/bin/"
pics=$work/pics
"$build/bin/quillix-samples" "$pics" >/dev/null
mkdir -p "$work/originals"
cp "$pics"/0[234]-*.jpg "$work/originals/"
count=$(find "$pics" -maxdepth 1 -type f | wc -l)
gallery_title="$count Images - Quillix - $pics/"
registry=$XDG_CONFIG_HOME/quillix/registry.ini
password=e2e-secret

# Waits until a visible window has exactly this title; prints its id.
wait_window() {
  local title=$1 id=""
  for _ in $(seq 200); do
    id=$(xdotool search --onlyvisible --name "^$(printf '%s' "$title" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$" 2>/dev/null | head -1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window titled \"$title\" appeared; visible: $(visible_titles | tr '\n' '|')"
}
# The screen position "X Y" of the widget with accessible name $2 in the window titled $1.
widget_at() { /usr/bin/python3 "$here/widget_at.py" "$1" "$2" || fail "no widget \"$2\" in \"$1\""; }
visible_titles() { xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | sort -u; }
key() {
  for k in "$@"; do
    xdotool key "$k"
    sleep 0.15
  done
}
start_program() {
  "$work/bin/quillix" "$pics" >"$work/program.log" 2>&1 &
  app_pid=$!
}
# Waits for the program to end; fails unless it ends with `expected`.
wait_exit() {
  local expected=$1 status
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && fail "the program did not end"
  set +e
  wait "$app_pid"
  status=$?
  set -e
  app_pid=""
  [ "$status" = "$expected" ] || fail "the program ended with $status, not $expected"
}
registry_value() { sed -n "s/^$1=//p" "$registry" 2>/dev/null; }

step "the gallery opens on $count sample pictures"
start_program
gallery=$(wait_window "$gallery_title")
xdotool windowactivate --sync "$gallery"
sleep 1
placed=$(xdotool getwindowgeometry "$gallery" | sed -n 's/ *Position: //p')

step "open a picture, step, zoom, and back"
# The gallery opens with no current tile: the first Right picks the first one, five more pass
# the five encrypted samples to 01-sunset.jpg.
key Right Right Right Right Right Right Return
wait_window "01-sunset.jpg" >/dev/null
key Right
viewer=$(wait_window "02-lights.jpg")
sleep 0.5
import -window root "$work/fit.png"
xdotool mousemove 640 400 keydown ctrl click 5 click 5 keyup ctrl
sleep 1
import -window root "$shots/viewer.png"
[ "$(compare -metric AE "$work/fit.png" "$shots/viewer.png" null: 2>&1 || true)" != 0 ] ||
  fail "Ctrl and the wheel did not zoom"
[ "$(xdotool getwindowname "$viewer")" = "02-lights.jpg" ] || fail "zooming changed the picture"
key Escape
gallery=$(wait_window "$gallery_title")
sleep 0.5
back=$(xdotool getwindowgeometry "$gallery" | sed -n 's/ *Position: //p')
[ "$back" = "$placed" ] || fail "the gallery came back at $back, not where it was ($placed)"

step "select three pictures and encrypt them with a new password"
key shift+Right shift+Right e   # from 02-lights.jpg, where the viewer was left
dialog=$(wait_window "Password")
xdotool windowactivate --sync "$dialog"
xdotool type --delay 20 "$password"
key Tab
xdotool type --delay 20 "$password"
key Return
for _ in $(seq 600); do
  done_files=0
  for name in 02-lights.jpg 03-tiles.jpg 04-waves.jpg; do
    [ -f "$pics/\$$name" ] && [ ! -e "$pics/$name" ] && done_files=$((done_files + 1))
  done
  [ "$done_files" = 3 ] && ! compgen -G "$pics/.quillix-*" >/dev/null && break
  sleep 0.1
done
[ "$done_files" = 3 ] || fail "the three containers did not appear: $(ls "$pics" | head -12 | tr '\n' ' ')"
sleep 1
import -window root "$shots/gallery.png"
printf '%s\n' "$password" >"$work/password"
for name in 02-lights.jpg 03-tiles.jpg 04-waves.jpg; do
  "$work/bin/quillix-crypt" cat -p "$work/password" "$pics/\$$name" | cmp -s - "$work/originals/$name" ||
    fail "\$$name does not decrypt to the original $name"
done

step "set the PIN 1234 in the settings dialog"
xdotool windowactivate --sync "$gallery"
# The Settings button on the tool band, and the PIN field in the dialog, where they are on screen.
at=$(widget_at "$gallery_title" Settings)
xdotool mousemove $at click 1
settings=$(wait_window "Settings")
at=$(widget_at Settings PIN)
xdotool mousemove $at click 1
sleep 0.2
xdotool type --delay 50 1234
key Return
for _ in $(seq 50); do [ -n "$(registry_value p)" ] && break; sleep 0.1; done
[ "$(registry_value p)" = "$(printf 1234 | md5sum | cut -d' ' -f1)" ] || fail "the PIN was not stored"
xdotool windowactivate --sync "$gallery"
key Escape
wait_exit 0

step "a wrong PIN ends the program and counts one failure; nothing reached or showed before it"
start_program
# Keys from the first moment on: none may reach a gallery or open a dialog behind the prompt.
pin=""
for _ in $(seq 200); do
  xdotool key F2 space Delete e Return 2>/dev/null || true
  pin=$(xdotool search --onlyvisible --name '^PIN$' 2>/dev/null | head -1) || true
  [ -n "$pin" ] && break
done
[ -n "$pin" ] || fail "no PIN prompt appeared"
xdotool key F2 space Delete e Return
sleep 1
import -window root "$shots/pin.png"
titles=$(visible_titles)
[ "$titles" = "PIN" ] || fail "windows other than the PIN prompt were on screen: $(tr '\n' '|' <<<"$titles")"
xdotool windowactivate --sync "$pin"
xdotool type --delay 100 9999
wait_exit 0
[ "$(registry_value c)" = 1 ] || fail "the failure count is $(registry_value c), not 1"

step "the right PIN, after the lock-out of one failure, opens the gallery and clears the count"
start_program
pin=$(wait_window "PIN")
sleep 8.5   # the lock-out of one failure is 7 s; digits typed during it do not count
xdotool windowactivate --sync "$pin"
xdotool type --delay 100 1234
gallery=$(wait_window "$gallery_title")
[ "$(registry_value c)" = 0 ] || fail "the failure count is $(registry_value c), not 0"
xdotool windowactivate --sync "$gallery"
key Escape
wait_exit 0

step "passed; screenshots in $shots"
