#!/usr/bin/env bash
# Runs the README's "First ingestion" block as a person would copy it into a shell, on a
# generated card from a fresh home, and checks the copies and sidecars it left.
#
# Usage: first_ingestion.sh README.md BIN_DIR MAKE_SAMPLE_CARD
set -u
readme=$1 bin=$2 make_card=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/cw-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config
export PATH="$bin:$PATH" CARD=$work/card/DCIM BACKUP=$work/backup
mkdir -p "$HOME" "$BACKUP"
"$make_card" "$work/card" >/dev/null

block=$(awk '/^## First ingestion/ {on = 1} on && /^```sh/ {code = 1; next}
             code && /^```/ {exit} code {print}' "$readme")
[[ -n $block ]] || { echo "FAIL: no First ingestion block in $readme"; exit 1; }
(cd "$HOME" && bash -e -o pipefail -c "$block") || { echo "FAIL: the block stopped"; exit 1; }

status=0
expect() { [[ -n $(find "$@" -print -quit) ]] || { echo "FAIL: nothing found by find $*"; status=1; }; }
expect "$HOME/Pictures/Archive" -name '20240601_Synthetic Camera_0001.JPG'
expect "$BACKUP" -name '20240601_Synthetic Camera_0007.CR2'
expect "$HOME/Pictures/Archive" -name '*_0001.xmp' -exec grep -q 'Ann Example' {} \; \
  -exec grep -q '© 2024 Ann Example' {} \;
exit $status
