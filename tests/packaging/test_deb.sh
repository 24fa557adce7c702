#!/usr/bin/env bash
# Builds the Debian package with CPack, checks what it holds, its
# dependencies and what lintian says of it, and starts the program from a
# dpkg-deb extraction of it.
#
#   test_deb.sh BUILD_DIR
set -euo pipefail
build=$1
t=$(mktemp -d /tmp/torvane-deb.XXXXXX)
trap 'rm -rf "$t"' EXIT
chmod 755 "$t"

(cd "$t" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$t/out" > "$t/cpack.log" 2>&1) || {
  cat "$t/cpack.log"; exit 1; }
deb=$(ls "$t"/out/*.deb)
echo "package: $(basename "$deb")"
contents=$(dpkg-deb --contents "$deb")
for f in ./usr/lib/torvane/Torvane ./usr/lib/torvane/libLinkCore.so ./usr/lib/torvane/libRegMaster.so \
         ./usr/lib/torvane/libBlockPump.so ./usr/lib/torvane/drivesim ./usr/lib/torvane/Parameter/TV380.xls \
         ./usr/lib/torvane/Language/language.xls ./usr/lib/torvane/Function/PID.bmp \
         ./usr/share/applications/torvane.desktop ./usr/share/icons/hicolor/scalable/apps/torvane.svg \
         ./usr/bin/torvane; do
  echo "$contents" | grep -q " $f" || { echo "$contents"; echo "not in the package: $f"; exit 1; }
done
# No test program and no build-tree path inside.
if echo "$contents" | grep -E "test_|installed_run|bench_"; then echo "test programs in the package"; exit 1; fi
for f in ./usr/share/doc/torvane/copyright ./usr/share/doc/torvane/changelog.gz \
         ./usr/share/doc/torvane/60-torvane-serial.rules ./usr/share/man/man1/torvane.1.gz \
         ./usr/share/man/man1/torvane-cli.1.gz ./usr/share/man/man1/torvane-drivesim.1.gz; do
  echo "$contents" | grep -q " $f\$" || { echo "$contents"; echo "not in the package: $f"; exit 1; }
done

# Dependencies as dpkg-shlibdeps works them out on this system: versioned, and
# every one a package this Debian has under that name.
depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for p in libace-7.0.8 libfreexl1 libminizip1 libqt6widgets6 libqt6charts6 libc6 qt6-qpa-plugins; do
  echo "$depends" | grep -Eq "(^|, )$p( |,|\$)" || { echo "missing dependency $p"; exit 1; }
done
echo "$depends" | grep -Eq "libc6 \(>= [0-9]" || { echo "libc6 without a version: dpkg-shlibdeps did not run"; exit 1; }
for p in $(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*)//' | tr -d ' '); do
  dpkg-query -W "$p" > /dev/null 2>&1 || { echo "dependency $p is no installed Debian package"; exit 1; }
done

# Stripped: no debugging sections left in the program or its libraries.
dpkg-deb -x "$deb" "$t/check"
for f in Torvane torvane-cli drivesim libLinkCore.so; do
  if readelf -S "$t/check/usr/lib/torvane/$f" | grep -q '\.debug_info'; then echo "$f is not stripped"; exit 1; fi
done
rm -rf "$t/check"

# lintian: no errors. Its warnings are printed for the reader.
command -v lintian > /dev/null || { echo "lintian is not installed (scripts/setup.sh installs it)"; exit 1; }
lintian --tag-display-limit 0 "$deb" > "$t/lintian.log" 2>&1 || true
cat "$t/lintian.log"
if grep -q '^E: ' "$t/lintian.log"; then echo "lintian reports errors"; exit 1; fi
if grep -Eq '^(E|W): .*(binary-without-manpage|extended-description-line-too-long|maintainer-address)' "$t/lintian.log"; then
  echo "lintian warnings this package had fixed are back"; exit 1
fi

dpkg-deb -x "$deb" "$t/root"
chmod -R a-w "$t/root"
uid=$(id -u nobody)
gid=$(id -g nobody)
mkdir -p "$t/home"
chown "$uid:$gid" "$t/home"
rc=0
env -i PATH=/usr/bin:/bin HOME="$t/home" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$t/home" \
  timeout 4 setpriv --reuid="$uid" --regid="$gid" --clear-groups "$t/root/usr/lib/torvane/Torvane" \
  > "$t/run.log" 2>&1 || rc=$?
[ "$rc" = 124 ] || { cat "$t/run.log"; echo "Torvane from the package ended with $rc instead of running"; exit 1; }
[ -f "$t/home/.local/share/Torvane/Language/setting.ini" ] || { echo "first start did not lay out the user's folder"; exit 1; }
chmod -R u+w "$t/root"
echo "package test: ok"
