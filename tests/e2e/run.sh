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

# Every wait below is for the thing it needs, with a limit that only a fault reaches.
limit=60

# A private X server of its own, so that nothing the person at the machine does gets in the way.
# It picks a free display itself and names it on a pipe once it takes connections; the pipe is
# held open for reading from before the server starts, so that neither side waits to open it.
mkfifo "$work/xvfb-ready" "$work/wm-ready"
exec {ready}<>"$work/xvfb-ready"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/xvfb-ready" >/dev/null 2>&1 &
xvfb_pid=$!
number=""
read -r -t "$limit" -u "$ready" number || true
exec {ready}<&-
[ -n "$number" ] || fail "the X server did not start within $limit s"
export DISPLAY=:$number
# The window manager runs its start-up command once it manages the screen.
exec {ready}<>"$work/wm-ready"
openbox --startup "sh -c 'echo ready >$work/wm-ready'" >/dev/null 2>&1 &
wm_pid=$!
line=""
read -r -t "$limit" -u "$ready" line || true
exec {ready}<&-
[ "$line" = ready ] || fail "the window manager did not start within $limit s"
xdotool get_num_desktops >/dev/null 2>&1 || fail "the window manager does not answer"
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
  id=$(timeout "$limit" xdotool search --sync --onlyvisible --name \
    "^$(printf '%s' "$title" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$" 2>/dev/null | head -1) || true
  [ -n "$id" ] || fail "no window titled \"$title\" appeared within $limit s; visible: $(visible_titles | tr '\n' '|')"
  echo "$id"
}
# Waits until `condition` (a command) succeeds, looking every tenth of a second: for what only
# shows in files or on screen. Fails with `what` when the limit passes first.
wait_until() {
  local what=$1 end=$((SECONDS + limit))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || fail "$what (waited $limit s)"
    sleep 0.1
  done
}
# Waits until two screenshots in a row are the same: what was drawn has been drawn.
wait_screen_settled() {
  import -window root "$work/settle-a.png"
  wait_until "the screen kept changing" screen_same_as "$work/settle-a.png"
}
# True when the screen now is the picture $1; else $1 becomes the screen now.
screen_same_as() {
  import -window root "$work/settle-b.png"
  if [ "$(compare -metric AE "$1" "$work/settle-b.png" null: 2>&1 || true)" = 0 ]; then return 0; fi
  mv "$work/settle-b.png" "$1"
  return 1
}
# The screen position "X Y" of the widget with accessible name $2 in the window titled $1.
widget_at() { /usr/bin/python3 "$here/widget_at.py" "$@" || fail "no widget \"${*: -1}\" in \"${*: -2:1}\" ($*)"; }
visible_titles() { xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | sort -u; }
# The keys go to the focused window in the order given; each call ends where a window may change.
key() { xdotool key --delay 50 "$@"; }
start_program() {
  "$work/bin/quillix" "$pics" >"$work/program.log" 2>&1 &
  app_pid=$!
}
# Waits for the program to end; fails unless it ends with `expected`.
wait_exit() {
  local expected=$1 status
  timeout "$limit" tail --pid="$app_pid" -s 0.1 -f /dev/null || fail "the program did not end within $limit s"
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
# Laid out and reachable: its tool band's buttons are there.
widget_at "$gallery_title" Settings >/dev/null
placed=$(xdotool getwindowgeometry "$gallery" | sed -n 's/ *Position: //p')

step "open a picture, step, zoom, and back"
# The gallery opens with no current tile: the first Right picks the first one, 01-sunset.jpg
# (the encrypted samples stand among the others, by their pictures' names).
key Right Return
wait_window "01-sunset.jpg" >/dev/null
key Right
viewer=$(wait_window "02-lights.jpg")
wait_screen_settled
mv "$work/settle-a.png" "$work/fit.png"
xdotool mousemove 640 400 keydown ctrl click 5 click 5 keyup ctrl
screen_differs_from_fit() {
  import -window root "$shots/viewer.png"
  [ "$(compare -metric AE "$work/fit.png" "$shots/viewer.png" null: 2>&1 || true)" != 0 ]
}
wait_until "Ctrl and the wheel did not zoom" screen_differs_from_fit
wait_screen_settled
mv "$work/settle-a.png" "$shots/viewer.png"
[ "$(xdotool getwindowname "$viewer")" = "02-lights.jpg" ] || fail "zooming changed the picture"
key Escape
gallery=$(wait_window "$gallery_title")
gallery_placed_back() {
  [ "$(xdotool getwindowgeometry "$gallery" | sed -n 's/ *Position: //p')" = "$placed" ]
}
wait_until "the gallery did not come back where it was ($placed)" gallery_placed_back

step "select three pictures and encrypt them with a new password"
key shift+Right shift+Right e   # from 02-lights.jpg, where the viewer was left
dialog=$(wait_window "Password")
xdotool windowactivate --sync "$dialog"
xdotool type --delay 20 "$password"
key Tab
xdotool type --delay 20 "$password"
key Return
three_encrypted() {
  for name in 02-lights.jpg 03-tiles.jpg 04-waves.jpg; do
    [ -f "$pics/\$$name" ] && [ ! -e "$pics/$name" ] || return 1
  done
  ! compgen -G "$pics/.quillix-*" >/dev/null
}
wait_until "the three containers did not appear" three_encrypted
wait_screen_settled
mv "$work/settle-a.png" "$shots/gallery.png"
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
widget_at --focused Settings PIN >/dev/null
xdotool type --delay 50 1234
key Return
pin_stored() { [ -n "$(registry_value p)" ]; }
wait_until "no PIN was stored" pin_stored
[ "$(registry_value p)" = "$(printf 1234 | md5sum | cut -d' ' -f1)" ] || fail "the PIN was not stored"
xdotool windowactivate --sync "$gallery"
key Escape
wait_exit 0

step "a wrong PIN ends the program and counts one failure; nothing reached or showed before it"
start_program
# Keys from the first moment on: none may reach a gallery or open a dialog behind the prompt.
pin=""
end=$((SECONDS + limit))
while [ -z "$pin" ] && [ "$SECONDS" -lt "$end" ]; do
  xdotool key F2 space Delete e Return 2>/dev/null || true
  pin=$(xdotool search --onlyvisible --name '^PIN$' 2>/dev/null | head -1) || true
done
[ -n "$pin" ] || fail "no PIN prompt appeared within $limit s"
xdotool key F2 space Delete e Return
# Whatever those keys would open has drawn itself once the screen stays the same.
wait_screen_settled
mv "$work/settle-a.png" "$shots/pin.png"
titles=$(visible_titles)
[ "$titles" = "PIN" ] || fail "windows other than the PIN prompt were on screen: $(tr '\n' '|' <<<"$titles")"
xdotool windowactivate --sync "$pin"
xdotool type --delay 100 9999
wait_exit 0
[ "$(registry_value c)" = 1 ] || fail "the failure count is $(registry_value c), not 1"

step "the right PIN, after the lock-out of one failure, opens the gallery and clears the count"
start_program
pin=$(wait_window "PIN")
# Digits typed during the lock-out of one failure (7 s) do not count; its notice shows from
# the moment the prompt does until the lock-out ends.
widget_at --gone PIN "Please wait ..." >/dev/null
xdotool windowactivate --sync "$pin"
xdotool type --delay 100 1234
gallery=$(wait_window "$gallery_title")
[ "$(registry_value c)" = 0 ] || fail "the failure count is $(registry_value c), not 0"
xdotool windowactivate --sync "$gallery"
key Escape
wait_exit 0

step "passed; screenshots in $shots"
