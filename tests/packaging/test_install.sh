#!/usr/bin/env bash
# Installs the build into a temporary prefix, makes the program folder
# read-only for the user running it, and runs the installed program there as
# an unprivileged user with HOME in a temporary folder: the settings, the
# value file, the language choice and the logs must land in the user's data
# folder, and nothing under the prefix may change. Then the installed
# Torvane itself must start.
#
#   test_install.sh BUILD_DIR INSTALLED_RUN_PROGRAM
set -euo pipefail
build=$1
probe=$2
bin="$build/bin"

t=$(mktemp -d /tmp/torvane-install.XXXXXX)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$t"
}
trap cleanup EXIT
chmod 755 "$t"
prefix="$t/prefix"

cmake --install "$build" --prefix "$prefix" > "$t/install.log"
progdir="$prefix/lib/torvane"
for f in Torvane libLinkCore.so libRegMaster.so libBlockPump.so drivesim Parameter/TV380.xls \
         Language/language.xls Language/setting.ini Function/function.xls; do
  [ -e "$progdir/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ -L "$prefix/bin/torvane" ] || { echo "no start link bin/torvane"; exit 1; }
[ -f "$prefix/share/applications/torvane.desktop" ] || { echo "no desktop entry"; exit 1; }
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$prefix/share/applications/torvane.desktop"; fi
# The installed program finds its libraries through its own folder.
if ldd "$progdir/Torvane" | grep -q "not found"; then ldd "$progdir/Torvane"; exit 1; fi
cp "$probe" "$progdir/installed_run"

# An unprivileged user: root may write anywhere, which is not what a user of
# an installed program can do.
user=nobody
uid=$(id -u $user)
gid=$(id -g $user)
as_user() { setpriv --reuid="$uid" --regid="$gid" --clear-groups --inh-caps=-all "$@"; }
chmod -R a-w "$prefix"
home="$t/home"
mkdir -p "$home" "$t/pty"
chown "$uid:$gid" "$home"
chmod 755 "$t/pty"

"$bin/drivesim" --link "$t/pty/COM1" --ready-file "$t/pty/ready" --workbook "$bin/Parameter/TV380.xls" \
  > "$t/drivesim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -e "$t/pty/ready" ] && break; sleep 0.1; done
[ -e "$t/pty/ready" ] || { cat "$t/drivesim.log"; echo "drivesim did not start"; exit 1; }
chmod 666 "$(readlink -f "$t/pty/COM1")"

before=$(cd "$prefix" && find . -printf '%p %s %T@ %m\n' | sort)
as_user env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$home" \
  TORVANE_COM1="$t/pty/COM1" "$progdir/installed_run" > "$t/run.out" 2> "$t/run.err" || {
  cat "$t/run.out" "$t/run.err"; echo "the installed program failed"; exit 1; }
cat "$t/run.out"

data="$home/.local/share/Torvane"
for f in config.ini ParaValue/installed.xls Language/setting.ini history Program work/log; do
  [ -e "$data/$f" ] || { echo "missing in the user's data folder: $f"; find "$data"; exit 1; }
done
grep -q "COMID=1" "$data/config.ini" || { cat "$data/config.ini"; echo "COMID not stored"; exit 1; }
grep -qi "Language=Chinese" "$data/Language/setting.ini" || { cat "$data/Language/setting.ini"; echo "language not stored"; exit 1; }
# The register requests were logged in the user's folder.
ls "$data/work/log/" | grep -q . || { echo "no run-info log"; exit 1; }
/usr/bin/python3 - "$data/ParaValue/installed.xls" <<'PY'
import sys, xlrd
sheet = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)
assert sheet.cell_value(0, 0) == "TV380", sheet.cell_value(0, 0)
assert sheet.nrows >= 3, sheet.nrows
PY
after=$(cd "$prefix" && find . -printf '%p %s %T@ %m\n' | sort)
if [ "$before" != "$after" ]; then diff <(echo "$before") <(echo "$after"); echo "the prefix changed"; exit 1; fi

# The installed Torvane starts from its start link and keeps running.
rc=0
env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$home" \
  timeout 4 setpriv --reuid="$uid" --regid="$gid" --clear-groups "$prefix/bin/torvane" > "$t/torvane.log" 2>&1 || rc=$?
[ "$rc" = 124 ] || { cat "$t/torvane.log"; echo "installed Torvane ended with $rc instead of running"; exit 1; }
echo "install test: ok"
