#!/usr/bin/env bash
# Installs the build into a staging directory (DESTDIR) and checks the layout, the desktop
# metadata and the Debian package, then runs the staged program: it must start, find its
# help under share/velkaro and save its default project into the user's data directory,
# because the staged bin/ is not writable. Nothing is installed into the system.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$(cd "$1" && pwd)"
version="$2"
work="$(mktemp -d)"
chmod 755 "$work"
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

# Every file the install lays out, relative to the prefix; nothing more, nothing less.
expected_files() {
  printf '%s\n' bin/velkaro bin/velkaro-cli bin/vx_sim \
    share/applications/org.velkaro.Velkaro.desktop share/mime/packages/velkaro.xml \
    share/metainfo/org.velkaro.Velkaro.metainfo.xml \
    share/icons/hicolor/scalable/apps/org.velkaro.Velkaro.svg \
    lib/udev/rules.d/70-velkaro-usbtmc.rules \
    lib/systemd/system/velkaro-run@.service share/doc/velkaro/examples/velkaro-run.conf.example \
    share/velkaro/help/Velkaro_help_CN.html share/velkaro/help/Velkaro_help_EN.html \
    share/velkaro/help/open-source_software_acknowledgment.html \
    share/man/man1/velkaro.1.gz share/man/man1/velkaro-cli.1.gz share/man/man1/vx_sim.1.gz \
    share/doc/velkaro/copyright share/doc/velkaro/changelog.gz
  for side in $icon_sizes; do echo "share/icons/hicolor/${side}x${side}/apps/org.velkaro.Velkaro.png"; done
}
icon_sizes="16 22 24 32 48 64 128 256 512"

# ---- the install into a staging prefix
stage="$work/stage"
prefix="$stage/usr"
[ -n "$stage" ] && [ "$stage" != "/" ] || fail "no staging directory"
DESTDIR="$stage" timeout 300 cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install into $stage"; }
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$work/installed.txt"
expected_files | sort >"$work/expected.txt"
diff -u "$work/expected.txt" "$work/installed.txt" || fail "installed file list differs from the expected layout"
[ -z "$(find "$stage" -mindepth 1 -maxdepth 1 ! -name usr)" ] || fail "files installed outside the prefix"
for p in velkaro velkaro-cli vx_sim; do [ -x "$prefix/bin/$p" ] || fail "bin/$p not executable"; done
note "layout: $(wc -l <"$work/installed.txt") files as expected"

# ---- metadata
desktop="$prefix/share/applications/org.velkaro.Velkaro.desktop"
if command -v desktop-file-validate >/dev/null; then
  out="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate complains: $out"
else
  note "desktop-file-validate not installed: desktop entry not validated"
fi
grep -qx 'Exec=velkaro %f' "$desktop" || fail "desktop entry does not hand the file to velkaro"
grep -qx 'Icon=org.velkaro.Velkaro' "$desktop" || fail "desktop entry icon"
mime_type="$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$prefix/share/mime/packages/velkaro.xml")"
grep -qx "MimeType=$mime_type;" "$desktop" || fail "desktop entry does not claim $mime_type"

if command -v update-mime-database >/dev/null; then
  mkdir -p "$work/mime/packages"
  cp "$prefix/share/mime/packages/velkaro.xml" "$work/mime/packages/"
  timeout 60 update-mime-database "$work/mime" >/dev/null 2>&1 || fail "update-mime-database rejects the type"
  grep -q ":$mime_type:\*\.dmm" "$work/mime/globs2" || fail "*.dmm does not map to $mime_type"
else
  note "update-mime-database not installed: project file type not compiled"
fi

metainfo="$prefix/share/metainfo/org.velkaro.Velkaro.metainfo.xml"
if command -v appstreamcli >/dev/null; then
  timeout 60 appstreamcli validate --no-net "$metainfo" >"$work/as.log" 2>&1 ||
    { cat "$work/as.log"; fail "appstreamcli validate"; }
else
  note "appstreamcli not installed: AppStream metadata not validated"
fi
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo release is not $version"
grep -q '<launchable type="desktop-id">org.velkaro.Velkaro.desktop</launchable>' "$metainfo" || fail "metainfo launchable"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" || fail "metainfo licence"
grep -q '<developer_name>Velkaro developers</developer_name>' "$metainfo" || fail "metainfo developer"
grep -qx 'License: GPL-3.0+' "$prefix/share/doc/velkaro/copyright" || fail "copyright licence"
! grep -rqi 'example\.org\|not stated yet\|proprietary' "$prefix/share/doc/velkaro/copyright" "$metainfo" || fail "placeholders left in the package texts"

for side in $icon_sizes; do
  png="$prefix/share/icons/hicolor/${side}x${side}/apps/org.velkaro.Velkaro.png"
  # PNG header: width and height are the big-endian words at bytes 16 and 20.
  read -r w h < <(od -An -tu1 -j16 -N8 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w" = "$side" ] && [ "$h" = "$side" ] || fail "icon ${side}x${side} is ${w}x${h}"
done
grep -q 'SUBSYSTEM=="usbmisc", KERNEL=="usbtmc\*", TAG+="uaccess"' "$prefix/lib/udev/rules.d/70-velkaro-usbtmc.rules" ||
  fail "udev rule does not grant USBTMC access"
for p in velkaro velkaro-cli vx_sim; do
  gzip -dc "$prefix/share/man/man1/$p.1.gz" >"$work/$p.1"
  grep -qF ".TH ${p^^} \"1\"" "$work/$p.1" && grep -q "^\.SH OPTIONS" "$work/$p.1" || fail "manual page of $p"
done
# The service unit, as systemd reads it: an instance of the template, pointing at the
# staged program and finding the staged manual page.
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$work/unit"
  sed "s|/usr/bin/velkaro-cli|$prefix/bin/velkaro-cli|" "$prefix/lib/systemd/system/velkaro-run@.service" \
    >"$work/unit/velkaro-run@bench.service"
  out="$(cd "$work/unit" && MANPATH="$prefix/share/man" timeout 60 systemd-analyze verify \
    ./velkaro-run@bench.service 2>&1)" || fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify complains: $out"
else
  note "systemd-analyze not installed: the service unit not verified"
fi
note "metadata valid"

# ---- the staged programs
[ "$("$prefix/bin/velkaro" --version)" = "velkaro $version" ] || fail "velkaro --version"
[ "$("$prefix/bin/velkaro-cli" --version)" = "velkaro-cli $version" ] || fail "velkaro-cli --version"
timeout 30 "$prefix/bin/vx_sim" --help >/dev/null || fail "vx_sim --help"
# Installed, the help is found in the data directory; in the build tree, beside the program.
[ "$(timeout 30 "$prefix/bin/velkaro" --help-path)" = "$prefix/share/velkaro/help" ] ||
  fail "staged velkaro does not find its help under share/velkaro/help"
[ "$(timeout 30 "$build/bin/velkaro" --help-path)" = "$build/bin/help" ] ||
  fail "velkaro in the build tree does not find its help in bin/help"

# Start the staged program with bin/ not writable. Root writes anywhere, so as root the
# program runs as nobody for the permissions to count.
data="$work/data"; home="$work/home"; runtime="$work/run"
mkdir -p "$data" "$home" "$runtime"
chmod 700 "$runtime"
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$data" "$home" "$runtime"
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
chmod a-w "$prefix/bin"
# "minimal" rather than "offscreen": Qt's offscreen plugin leaks its screens at exit, which
# LeakSanitizer reports when the program is built with the sanitizers.
env XDG_DATA_HOME="$data" HOME="$home" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=minimal \
  "${run_as[@]}" "$prefix/bin/velkaro" >"$work/velkaro.log" 2>&1 &
pid=$!
# Up means its SIGTERM handler is installed (bit 15 of SigCgt), just before the event loop.
up=0
for _ in $(seq 1 600); do
  kill -0 "$pid" 2>/dev/null || break
  cgt="$(sed -n 's/^SigCgt:\s*//p' "/proc/$pid/status" 2>/dev/null || true)"
  if [ -n "$cgt" ] && (((16#$cgt >> 14) & 1)); then up=1; break; fi
  sleep 0.1
done
[ "$up" = 1 ] || { cat "$work/velkaro.log"; fail "staged velkaro did not come up within 60 s"; }
sleep 1
kill -TERM "$pid"
status=""
for _ in $(seq 1 600); do
  if ! kill -0 "$pid" 2>/dev/null; then wait "$pid" && status=0 || status=$?; break; fi
  sleep 0.1
done
[ -n "$status" ] || { cat "$work/velkaro.log"; fail "staged velkaro did not end within 60 s of SIGTERM"; }
pid=""
[ "$status" = 0 ] || { cat "$work/velkaro.log"; fail "staged velkaro exited with $status"; }
saved="$data/Velkaro/default_save.dmm"
[ -f "$saved" ] || { cat "$work/velkaro.log"; fail "no default project in $data/Velkaro"; }
grep -q "<SoftwareVersion>V$version</SoftwareVersion>" "$saved" || fail "default project content"
[ ! -e "$prefix/bin/default_save.dmm" ] || fail "default project written beside the program"
chmod u+w "$prefix/bin"
note "staged program started, found its help and saved into the data directory"

# ---- the Debian package
if command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  timeout 600 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
  deb="$(find "$work/deb" -maxdepth 1 -name 'velkaro_*.deb' | head -1)"
  [ -n "$deb" ] || fail "cpack wrote no .deb"
  [ "$(dpkg-deb -f "$deb" Package)" = velkaro ] || fail "package name"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
  depends="$(dpkg-deb -f "$deb" Depends)"
  for lib in libc6 libqt5widgets5 libstdc++6; do
    tr ',|' '\n\n' <<<"$depends" | awk '{print $1}' | grep -qxF "$lib" ||
      fail "Depends lacks $lib (dpkg-shlibdeps): $depends"
  done
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\.\/usr\//, "", $6); print $6}' | sort >"$work/deb.txt"
  diff -u "$work/expected.txt" "$work/deb.txt" || fail "package file list differs from the install layout"
  [ -z "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')" ] || fail "package files not owned by root"
  [ -z "$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x"')" ] || fail "package directory modes"
  dpkg-deb -x "$deb" "$work/unpacked"
  [ "$("$work/unpacked/usr/bin/velkaro" --help-path)" = "$work/unpacked/usr/share/velkaro/help" ] ||
    fail "packaged velkaro does not find its help"
  [ "$(dpkg-deb -f "$deb" Maintainer)" = "Velkaro developers <developers@velkaro.org>" ] || fail "package maintainer"
  if command -v lintian >/dev/null; then
    timeout 600 lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || { cat "$work/lintian.log"; fail "lintian"; }
    note "lintian: $(grep -c . "$work/lintian.log" || true) lines, no error or warning"
  else
    note "lintian not installed: package not checked by lintian"
  fi
  note "package $(basename "$deb"): Depends: $depends"
else
  note "dpkg-deb or dpkg-shlibdeps not installed: Debian package not built"
fi
echo "package test passed"
