#!/usr/bin/env bash
# Installs what is missing, builds Torvane, starts the simulated drive on a
# pseudo-terminal, maps COM1 to it and starts Torvane from the build's program
# folder with the sample data, so that "Connect Serial Port" works at once.
#
# Without a display the program runs under a virtual X server: the script
# connects to the simulated drive, saves a screenshot of the main window and
# prints where it is.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
build=${TORVANE_BUILD_DIR:-$here/build}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target Torvane drivesim TorvaneSampleData
bin="$build/bin"

rundir="$build/run"
mkdir -p "$rundir"
port="$rundir/COM1"

# A first run points the program at COM1, the simulated drive; a config.ini
# the user already has is left as it is (without a port, Connect searches
# COM1 to COM16 and finds the drive on COM1 all the same).
if [ ! -f "$bin/config.ini" ]; then
  printf '[COM]\nCOMID=1\n' > "$bin/config.ini"
fi

"$bin/drivesim" --link "$port" --ready-file "$rundir/drivesim.ready" \
  --workbook "$bin/Parameter/TV380.xls" --config "$bin/config.ini" \
  --ee-file "$rundir/drive-ee.bin" --flash-file "$rundir/drive-flash.bin" \
  > "$rundir/drivesim.log" 2>&1 &
sim=$!
cleanup() { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 100); do
  [ -e "$rundir/drivesim.ready" ] && break
  kill -0 "$sim" 2>/dev/null || { cat "$rundir/drivesim.log"; echo "run: the drive simulator did not start" >&2; exit 1; }
  sleep 0.1
done
echo "run: simulated drive on $port (COM1); its log is $rundir/drivesim.log"
export TORVANE_COM1="$port"

cd "$bin"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  ./Torvane
  exit $?
fi

echo "run: no display available; running Torvane under a virtual X server (Xvfb)"
shot="$build/torvane-main-window.png"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -u
  ./Torvane & app=$!
  win=""
  for _ in $(seq 100); do
    win=$(xdotool search --onlyvisible --name "Torvane" 2>/dev/null | head -n1) && [ -n "$win" ] && break
    sleep 0.1
  done
  if [ -z "$win" ]; then echo "run: the main window did not appear" >&2; kill $app; exit 1; fi
  # No window manager runs here: the window sits at the screen origin and
  # takes real pointer clicks. Connect Serial Port (toolbar), then open the
  # first parameter group so the screenshot shows a view of the drive.
  xdotool windowsize "$win" 1200 760 >/dev/null 2>&1 || true
  sleep 1
  xdotool mousemove 50 33 click 1
  sleep 3
  xdotool mousemove 160 132 click 1
  sleep 2
  import -window root "$1"
  kill $app; wait $app 2>/dev/null
  exit 0
' _ "$shot"
echo "run: screenshot of the main window: $shot"
