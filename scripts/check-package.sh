#!/usr/bin/env bash
# Builds the Debian package from a build directory and checks it without
# touching this machine: `cmake --install` into a scratch prefix, the .deb's
# control data, and `dpkg --root` into a scratch root whose maintainer
# scripts run outside a chroot (DPKG_ROOT), creating the service's user and
# station directory there. Needs dpkg and cpack; no network.
#   bash scripts/check-package.sh [BUILD_DIR]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "${1:-$repo/build}")"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
check() { local what="$1"; shift; "$@" >/dev/null 2>&1 || fail "$what"; }

# 1. cmake --install puts every file in its place.
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
for f in bin/tolva-server bin/tolva-unitsim share/applications/tolva-server.desktop \
         share/icons/hicolor/scalable/apps/tolva-server.svg share/man/man1/tolva-server.1 \
         share/man/man1/tolva-unitsim.1 lib/systemd/system/tolva-server.service; do
  [ -e "$scratch/prefix/$f" ] || fail "cmake --install did not install $f"
done
version=$("$scratch/prefix/bin/tolva-server" --version | awk '{print $2}')
check "man page tolva-server.1 renders" groff -man -Tutf8 -ww -z "$scratch/prefix/share/man/man1/tolva-server.1"
grep -q "tolva-server $version" "$scratch/prefix/share/man/man1/tolva-server.1" || fail "man page carries another version"

# 2. The package.
(cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null) || fail "cpack"
deb=$(ls "$scratch"/deb/tolva-server_*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = tolva-server ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not the program's $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6network6 libqt6serialport6 libqt6widgets6 libc6 passwd; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
dpkg-deb -c "$deb" | grep '\./usr/lib/systemd/system/tolva-server.service$' >/dev/null || fail "unit not under /usr/lib/systemd/system"
# Stripped binaries in the package, symbols kept in the build directory.
dpkg-deb -x "$deb" "$scratch/unpacked"
for b in tolva-server tolva-unitsim; do
  file -b "$scratch/unpacked/usr/bin/$b" | grep -q ', stripped' || fail "packaged $b is not stripped"
  file -b "$build/$b" | grep -q ', not stripped' || fail "build/$b lost its symbols"
done

# 3. The unit as systemd reads it.
unit="$scratch/prefix/lib/systemd/system/tolva-server.service"
for line in "ExecStart=/usr/bin/tolva-server --headless --base /var/lib/tolva-server" "User=tolva-server" \
            "SupplementaryGroups=dialout" "AmbientCapabilities=CAP_NET_BIND_SERVICE" "ProtectSystem=strict" \
            "ProtectHome=yes" "PrivateTmp=yes" "NoNewPrivileges=yes"; do
  grep -qxF "$line" "$unit" || fail "unit lacks $line"
done
if command -v systemd-analyze >/dev/null; then
  # Only the unit's own syntax: the binary it names is not installed here.
  out=$(systemd-analyze verify "$unit" 2>&1 || true)
  ! grep -v -e "tolva-server: .*No such file" -e "Command /usr/bin/tolva-server" <<<"$out" | grep -qi "unknown\|invalid\|failed to parse" \
    || fail "systemd-analyze: $out"
fi

# 4. Installed into a scratch root: files, the user in the dialout group, the
#    station directory owned by it.
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/etc" "$root/usr/sbin"
touch "$root/var/lib/dpkg/status"
printf 'root:x:0:0:root:/root:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\n' > "$root/etc/group"
printf 'root:*:19000:0:99999:7:::\n' > "$root/etc/shadow"
printf 'root:*::\ndialout:*::\n' > "$root/etc/gshadow"
notroot=()
[ "$(id -u)" -eq 0 ] || notroot=(--force-not-root)
dpkg --root="$root" "${notroot[@]}" --force-depends --force-script-chrootless --log=/dev/null \
  -i "$deb" >/dev/null 2>"$scratch/dpkg.err" || { cat "$scratch/dpkg.err" >&2; fail "dpkg -i into the scratch root"; }
dpkg --root="$root" -s tolva-server | grep -q "Status: install ok installed" || fail "not installed"
[ -x "$root/usr/bin/tolva-server" ] || fail "binary not installed"
grep -q '^tolva-server:x:[0-9]*:[0-9]*:.*:/var/lib/tolva-server:/usr/sbin/nologin$' "$root/etc/passwd" || fail "no service user"
grep -q '^dialout:x:20:tolva-server$' "$root/etc/group" || fail "service user not in dialout"
uid=$(awk -F: '$1 == "tolva-server" {print $3}' "$root/etc/passwd")
for d in "" /CONFIG /LOG /DLD; do
  [ -d "$root/var/lib/tolva-server$d" ] || fail "no /var/lib/tolva-server$d"
  if [ "$(id -u)" -eq 0 ]; then
    [ "$(stat -c %u "$root/var/lib/tolva-server$d")" = "$uid" ] || fail "/var/lib/tolva-server$d not owned by the user"
  fi
done
# Installing again (an upgrade) keeps the one user.
dpkg --root="$root" "${notroot[@]}" --force-depends --force-script-chrootless --log=/dev/null -i "$deb" >/dev/null 2>&1 \
  || fail "reinstall"
[ "$(grep -c '^tolva-server:' "$root/etc/passwd")" = 1 ] || fail "user created twice"

# 5. The installed program runs headless in its station directory.
"$root/usr/bin/tolva-server" --headless --base "$root/var/lib/tolva-server" 2>"$scratch/run.err" &
pid=$!
for _ in $(seq 100); do [ -e "$root/var/lib/tolva-server/CONFIG/Server8.USR" ] && break; sleep 0.1; done
kill -TERM "$pid"
wait "$pid" || fail "headless run did not stop cleanly: $(cat "$scratch/run.err")"
[ -e "$root/var/lib/tolva-server/CONFIG/Connect1.CFG" ] || fail "headless run wrote no settings"

echo "package ok: $(basename "$deb") (installed into a scratch root with dpkg --root)"
