#!/usr/bin/env bash
# The package as a user gets it: built by scripts/package from this build tree, its desktop
# entry and metainfo valid, everything they name inside it, installed with apt-get, both
# installed programs answering with the project's version, and removed again. The machine is
# left as it was found: the package is purged on every way out, and the test refuses to run
# when apt would install anything besides the package or when the package is installed already.
#
# Usage: package_install.sh SOURCE_DIR BUILD_DIR VERSION   (exit 77: skipped)
set -u
src=$1 build=$2 version=$3

skip() { echo "skipped: $*"; exit 77; }
[[ $EUID -eq 0 ]] || skip "installing a package needs root"
for tool in apt-get dpkg dpkg-deb dpkg-query appstreamcli desktop-file-validate; do
  command -v "$tool" >/dev/null || skip "$tool is missing (scripts/install-deps installs it)"
done
installed() { dpkg-query -W -f='${Status}' cardwright 2>/dev/null | grep -q 'install ok installed'; }
installed && skip "a cardwright package is installed on this machine already; it is left alone"

work=$(mktemp -d "${TMPDIR:-/tmp}/cw-package.XXXXXX")
we_installed=0
cleanup() {
  if [[ $we_installed -eq 1 ]] && installed; then
    apt-get purge -y -qq -o DPkg::Lock::Timeout=120 cardwright >/dev/null 2>&1 ||
      dpkg --purge cardwright >/dev/null 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

deb=$("$src/scripts/package" "$work/out" "$build" 2>"$work/package.log" | tail -n 1)
arch=$(dpkg --print-architecture)
if [[ $deb != "$work/out/cardwright_${version}_${arch}.deb" || ! -f $deb ]]; then
  cat "$work/package.log"
  echo "FAIL: scripts/package gave '$deb', not $work/out/cardwright_${version}_${arch}.deb"
  exit 1
fi

# The files, and what the desktop entry and the metainfo point at.
root=$work/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/cardwright usr/bin/cardwright-gui usr/share/man/man1/cardwright.1 \
  usr/share/man/man1/cardwright-gui.1 usr/share/bash-completion/completions/cardwright \
  usr/share/cardwright/Cardwright-IPTC.3.4.xmp; do
  [[ -s $root/$f ]] || fail "the package has no $f"
done
desktop=$root/usr/share/applications/cardwright.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[[ -x $root/usr/bin/$exec_program ]] || fail "the desktop entry runs '$exec_program', not in usr/bin"
[[ -s $root/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] ||
  fail "the desktop entry's icon '$icon' is not in hicolor/scalable/apps"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [[ ${#metainfo[@]} -ne 1 || ! -f ${metainfo[0]} ]]; then
  fail "the package has not one metainfo file: ${metainfo[*]}"
else
  appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli rejects the metainfo"
  id=$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "${metainfo[0]}")
  [[ $(basename "${metainfo[0]}") == "$id.metainfo.xml" ]] || fail "the metainfo file is not named $id"
  grep -q '<launchable type="desktop-id">cardwright.desktop</launchable>' "${metainfo[0]}" ||
    fail "the metainfo does not launch cardwright.desktop"
fi
grep -q "cardwright $version" "$root/usr/share/man/man1/cardwright-gui.1" ||
  fail "the cardwright-gui man page does not carry version $version"

# Installed from the file, as the README says, only when apt needs nothing else for it: the
# dependencies come from scripts/install-deps, and nothing but the package is added to the machine.
cd "$work/out" || exit 1
plan=$(apt-get install -s --no-install-recommends "./$(basename "$deb")" 2>&1)
grep -q '^0 upgraded, 1 newly installed, 0 to remove' <<<"$plan" ||
  { printf '%s\n' "$plan"; echo "FAIL: apt would change more than the package (scripts/install-deps)"; exit 1; }
we_installed=1
if ! apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 \
  "./$(basename "$deb")" >"$work/apt.log" 2>&1; then
  cat "$work/apt.log"
  echo "FAIL: apt-get install of the package"
  exit 1
fi

# Both programs from their installed paths; the desktop one without a display.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" \
  /usr/bin/cardwright --version 2>&1)
[[ $? -eq 0 && $out == "cardwright $version" ]] || fail "/usr/bin/cardwright --version: '$out'"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work/home" \
  /usr/bin/cardwright-gui --version 2>&1)
[[ $? -eq 0 && $out == "cardwright-gui $version" ]] || fail "/usr/bin/cardwright-gui --version: '$out'"

# Removed again, leaving none of its files behind.
if ! apt-get purge -y -qq -o DPkg::Lock::Timeout=120 cardwright >"$work/apt.log" 2>&1; then
  cat "$work/apt.log"
  fail "apt-get purge cardwright"
fi
installed && fail "cardwright is still installed after the purge"
[[ -e /usr/bin/cardwright || -e /usr/bin/cardwright-gui ]] && fail "a program is left in /usr/bin"

[[ $failed -eq 0 ]] && echo "package_install: all checks passed"
[[ $failed -eq 0 ]]
