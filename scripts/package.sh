#!/usr/bin/env bash
# Builds the Debian packages (optimised, without sanitizers) and checks them: lintian finds no
# error; the headless package pulls in no Qt; unpacked into a temporary root, the unit passes
# systemd-analyze verify, the system user and /var/lib/tarnwick come into being there as the
# packages' sysusers.d and tmpfiles.d files say, the programs start, and the man page renders
# without warnings. Usage: scripts/package.sh [BUILD_DIR]   (default build/package)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}
started=$SECONDS

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_SANITIZE=OFF \
    -DTARNWICK_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    "-DCMAKE_CXX_FLAGS=$CXXFLAGS" "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" \
    "-DCMAKE_MODULE_LINKER_FLAGS=$LDFLAGS" >/dev/null
fail() {
    echo "package check failed: $*" >&2
    exit 1
}

echo "== building the packages in $build"
cmake --build "$build" -j2 --target tarnwick tarnwick_desktop package_files \
    >"$build/build.log" 2>&1 || { cat "$build/build.log"; fail "the build"; }
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 ||
    { cat "$build/cpack.log"; fail "cpack"; }
debs=("$build"/tarnwick_*.deb "$build"/tarnwick-desktop_*.deb)
ls -l "${debs[@]}"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" || fail "lintian reports errors"

echo "== dependencies"
headless_depends=$(dpkg-deb -f "${debs[0]}" Depends)
echo "tarnwick: $headless_depends"
echo "tarnwick-desktop: $(dpkg-deb -f "${debs[1]}" Depends)"
if grep -qi 'qt' <<<"$headless_depends"; then
    fail "the headless package depends on Qt"
fi

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$root"
done
! ldd "$root/usr/bin/tarnwick" | grep -i 'libQt' || fail "the headless program links Qt"

echo "== systemd-analyze verify"
# The unit names its user; the user comes from the package's sysusers.d file.
mkdir -p "$root/etc"
systemd-sysusers --root="$root"
# The units it refers to (sysinit.target, network-online.target ...) and /bin/kill come from
# this machine's systemd; its man page from the package.
cp -an /lib/systemd/system/. "$root/lib/systemd/system/"
mkdir -p "$root/bin" && cp /bin/kill "$root/bin/kill"
out=$(MANPATH="$root/usr/share/man" systemd-analyze verify --root="$root" \
    /lib/systemd/system/tarnwick.service /lib/systemd/system/tarnwick-check.service 2>&1) ||
    fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
# tarnwick-check.service tests the folders as the service sees them: same user, same sandbox.
sandbox() {
    grep -E '^(User|Group|UMask|StateDirectory|StateDirectoryMode|NoNewPrivileges|Protect[A-Za-z]*|Private[A-Za-z]*|Restrict[A-Za-z]*|LockPersonality|MemoryDenyWriteExecute|RemoveIPC|CapabilityBoundingSet|SystemCall[A-Za-z]*|ReadWritePaths|ReadOnlyPaths|InaccessiblePaths)=' "$1"
}
diff <(sandbox "$root/lib/systemd/system/tarnwick.service") \
    <(sandbox "$root/lib/systemd/system/tarnwick-check.service") ||
    fail "tarnwick-check.service's sandbox differs from tarnwick.service's"

echo "== system user and folder"
grep -q '^tarnwick:x:[0-9]*:[0-9]*:Tarnwick mail robot:/var/lib/tarnwick:' "$root/etc/passwd" ||
    fail "no system user tarnwick in $root/etc/passwd"
systemd-tmpfiles --root="$root" --create tarnwick.conf ||
    fail "systemd-tmpfiles could not create what tarnwick.conf asks for"
uid=$(awk -F: '$1 == "tarnwick" { print $3 }' "$root/etc/passwd")
[ "$(stat -c '%a %u' "$root/var/lib/tarnwick")" = "700 $uid" ] ||
    fail "/var/lib/tarnwick is $(stat -c '%a %u' "$root/var/lib/tarnwick"), not 700 $uid"
[ "$(stat -c '%a %u' "$root/var/lib/tarnwick/tarnwick.ini")" = "600 $uid" ] ||
    fail "tarnwick.ini is not 600 and owned by tarnwick"
[ "$(wc -l <"$root/var/lib/tarnwick/tarnwick.ini")" = 17 ] || fail "tarnwick.ini is not 17 lines"

echo "== programs"
"$root/usr/bin/tarnwick" --version
check=$("$root/usr/bin/tarnwick" --check --config-dir "$root/var/lib/tarnwick/" || true)
grep -q "^FAIL  settings $root/var/lib/tarnwick/tarnwick.ini: not set: StationName" <<<"$check" ||
    fail "tarnwick --check on the new settings: $check"
# The modules of TLS and the mail reading, in the program's package: OpenSSL and GMime are
# loaded with them, on first use, not at start.
modules=$root/usr/lib/$(gcc -print-multiarch)/tarnwick
ldd "$modules/tarnwick-reading.so" | grep -q 'libgmime' ||
    fail "no mail reading module loading GMime in $modules"
ldd "$modules/tarnwick-tls.so" | grep -q 'libssl' || fail "no TLS module loading OpenSSL in $modules"
! ldd "$root/usr/bin/tarnwick" | grep -Ei 'libgmime|libxml2|libssl|libcrypto|libsystemd' ||
    fail "the program loads at start what its modules load on first use"
# The desktop package's module, and what it loads: Qt, never the robot's core a second time.
module=$root/usr/lib/$(gcc -print-multiarch)/tarnwick/tarnwick-desktop.so
[ -f "$module" ] || fail "no desktop module at $module"
ldd "$module" | grep -q 'libQt6Widgets' || fail "the desktop module does not load Qt"
! nm -D --defined-only "$module" | grep -q ' T _ZN9MailerApp' ||
    fail "the desktop module holds a copy of the core"

echo "== man page"
for page in tarnwick tarnwick-desktop; do
    warnings=$(MANPATH="$root/usr/share/man" man --warnings "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings $page: $warnings"
done
warnings=$(man --warnings -l "$root/usr/share/man/man1/tarnwick.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man --warnings -l tarnwick.1.gz: $warnings"

echo "== alerting rules"
command -v promtool >/dev/null || fail "promtool not found: install prometheus (scripts/setup.sh)"
promtool check rules "$root/usr/share/doc/tarnwick/examples/tarnwick-alerts.yml" ||
    fail "promtool check rules"

echo "packages built and checked in $((SECONDS - started)) s"
