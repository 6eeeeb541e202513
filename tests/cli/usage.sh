#!/usr/bin/env bash
# The command line as a photographer meets it, from a fresh home: discovery, refusals with
# their exit status, the record's names, dry runs, completion and the man page.
#
# Usage: usage.sh CARDWRIGHT MAKE_SAMPLE_CARD BUILD_DIR
set -u
cw=$1 make_card=$2 build=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/cw-cli.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_DATA_HOME=$work/home/data XDG_CONFIG_HOME=$work/home/config
mkdir -p "$HOME"
cd "$work" || exit 1
failed=0

# check STATUS PATTERN ARGS...: cardwright ARGS exits with STATUS and prints (on either stream)
# a line matching the extended regular expression PATTERN; its output stays in $out.
check() {
  local want=$1 pattern=$2 status
  shift 2
  out=$("$cw" "$@" 2>&1 </dev/null)
  status=$?
  if [[ $status -ne $want ]] || ! grep -qE -- "$pattern" <<<"$out"; then
    printf 'FAIL: cardwright %s\n  exit %s (want %s), output without /%s/:\n%s\n' "$*" "$status" \
      "$want" "$pattern" "$(head -c 3000 <<<"$out")"
    failed=$((failed + 1))
  fi
}
fail_unless() { "$@" || { echo "FAIL: $*"; failed=$((failed + 1)); }; }
records() { "$cw" db ingestions 2>&1 >/dev/null | grep -oE '^[0-9]+'; }

"$make_card" card >/dev/null
printf 'clip' >card/DCIM/100CWRGT/CLIP.AVI
printf 'sound' >card/DCIM/100CWRGT/NOTE.WAV
mkdir -p backup

# Settings can be discovered on a fresh home.
check 0 '^\* Default \(not saved yet' preset list master
check 0 $'^PrimaryFolder\t\t\\(default\\)$' preset show master
check 0 '^WantJPEGVerify \(0 or 1, default 0\)$' preset keys master
check 0 '^ImageCity ' preset keys content
check 2 'not a setting of the Master preset \(did you mean PrimaryFolder\?\)' \
  preset set master Default PrimaryFoldr x
check 2 'NumberRangeDigits takes 4, 5 or 6, not "7"' preset set master Default NumberRangeDigits 7
check 2 "unknown kind 'mastr' \(did you mean master\?\)" preset keys mastr

# Macros can be discovered, and an unknown one is named with what it was meant to be.
check 0 '^  Model +\{@exif\.Model\} +\[model\]$' macro --reference
check 0 'holds \{@model\} \(did you mean \{@exif\.model\}\?\)' macro '{@model}_{@filename}'
check 1 'did you mean \{@exif\.model\}' macro --strict '{@model}'
check 1 'cannot read /nonexistent.jpg' macro --image /nonexistent.jpg x
check 1 'did you mean \{@exif\.model\}' ingest --card card/DCIM --primary archive --no-backup \
  --strict --name-format '{@model}'

# A newcomer is told how to name the backup the master preset asks for.
check 1 "give --backup DIR \(an existing folder\), run 'cardwright init'" \
  ingest --card card/DCIM --primary archive
check 1 "\"$work/nowhere\" does not exist: create it \(mkdir -p" \
  ingest --card card/DCIM --primary archive --backup "$work/nowhere"

# Usage mistakes name the option and its value and exit 2, in every command.
check 2 "--extensions needs --include or --exclude" ingest --card card/DCIM --extensions JPG
check 2 "option '--card' given twice \('A', then 'B'\)" ingest --card A --card B
check 2 "--digits '7': expects 4, 5 or 6" ingest --card card/DCIM --digits 7
check 2 "'--backup' and '--no-backup' exclude each other" ingest --backup x --no-backup
check 2 "unknown option '--bakup' \(did you mean --backup\?\)" ingest --bakup x
check 2 "option '--primary' needs a value \(DIR\)" ingest --card card/DCIM --primary
check 2 "--preset 'Nosuch': no such master preset" ingest --preset Nosuch --card card/DCIM
check 2 'no card: give --card DIR' ingest --primary archive --no-backup
check 2 "unknown preference 'LogV' \(did you mean LogV3\?\)" pref get LogV
check 2 'LogV3 takes a whole number' pref set LogV3 often
check 2 "option '--json' does not go with 'drives'" disc drives --json
check 2 "unknown command 'ingestion' \(did you mean ingestions\?\)" db ingestion
check 2 "unknown command 'ingets' \(did you mean ingest\?\)" ingets
check 2 "give the shell" completion zsh

# A card folder that will not do is refused before anything is recorded, without a trace.
before=$(records)
check 1 'card folder "card/DCIM/missing" does not exist' ingest --card card/DCIM/missing \
  --primary archive --no-backup
fail_unless test "$(grep -c '\.cpp' <<<"$out")" = 0
check 1 'None of the 9 files .* passes the extension filter \(Include: NEF\)' \
  ingest --card card/DCIM --primary archive --no-backup --only NEF
fail_unless test "$(records)" = "$before"
fail_unless test ! -e archive

# The switch rules of the presets apply to every edit, with their messages.
"$cw" preset set master Default KeepRaw 1 >/dev/null 2>&1
check 0 'DNG Conversion/Verification can run only if a backup is created' \
  preset set master Default WantBackup 0
check 1 'DNG Converter can run only if a pre-conversion backup is created' \
  preset set master Default KeepRaw 1
check 1 'Post-conversion backup allowed only if pre-conversion backup created' \
  preset set master Default WantBackupPost 1
# A message's "\r\r" line breaks come out as new lines.
"$cw" preset set master Default Template Old >/dev/null 2>&1
check 0 '^Save the Master Preset' preset select master Default
fail_unless test "$(tr -cd '\r' <<<"$out" | wc -c)" = 0

# 'init' saves the archive; a dry run lists what the real run then writes, in every tree.
check 0 'Saved in the master preset "Default"' init --archive archive --backup backup
check 0 '^Client: Smith \(new\)$' ingest --card card/DCIM --client Smith --dry-run
fail_unless test "$(records)" = "$before"
fail_unless test ! -e archive -a -z "$(ls backup)"
planned=$(grep -oE -- '-> .*' <<<"$out" | cut -c4- | sort)
check 0 "^Ingestion $((before + 1))$" ingest --card card/DCIM --client Smith
fail_unless grep -q '^Client: Smith (new)$' <<<"$out"
written=$(find "$work/archive" "$work/backup" -type f ! -name '*.xmp' ! -path '*/Manifests/*' | sort)
fail_unless test "$planned" = "$written"
fail_unless test "$(wc -l <<<"$written")" = 18
# The help's defaults are those used: the number comes from the camera's file name.
check 0 $'NRsource: 1' db params "$((before + 1))"
fail_unless grep -q 'default: the master preset.s NumberRangeSource, 1 in a new preset' \
  <("$cw" ingest --help)
# Video and sound files: one log line for the run, no failed read for each.
log=$("$cw" log show)
fail_unless grep -q '2 video or sound files (AVI WAV) without EXIF dated by file time' <<<"$log"
fail_unless test "$(grep -c 'Failed to open image file.*\.\(AVI\|WAV\)' <<<"$log")" = 0

# The next run carries the client over; --json names the record too.
check 0 '"ingestion_id": [0-9]+, "client": "Smith", "project": "\[unknown\]"' \
  ingest --card card/DCIM --json

# The record's names: each new one is added and said to be new, before anything is copied;
# an empty name is refused, by `watch` too.
check 0 '^Project: Wedding \(new\)$' ingest --card card/DCIM --client Smith --project Wedding \
  --card-name 'Card A' --no-backup
fail_unless grep -q '^Client: Smith$' <<<"$out"
fail_unless grep -q '^Card record: Card A (new)$' <<<"$out"
fail_unless test "$(grep -n -m1 '^Card record:' <<<"$out" | cut -d: -f1)" -lt \
  "$(grep -n -m1 'SUCCESSFUL INGESTION' <<<"$out" | cut -d: -f1)"
check 0 '^Card A' db cards
check 0 "^Wedding" db projects --client Smith
check 2 "--client ' ': expects a name" ingest --card card/DCIM --client ' '
check 2 "--card-name '': expects a name" watch --card-name ''

# Completion and man page come from the command table and install with the program.
source <("$cw" completion bash)
COMP_WORDS=(cardwright ingest --dr) && COMP_CWORD=2 && _cardwright
fail_unless test "${COMPREPLY[*]}" = "--dry-run"
COMP_WORDS=(cardwright preset keys "") && COMP_CWORD=3 && _cardwright
fail_unless grep -q 'file-handling' <<<"${COMPREPLY[*]}"
check 0 '^\.SH PRESET KEYS' manpage
cmake --install "$build" --prefix "$work/installed" >/dev/null
fail_unless test -s "$work/installed/share/bash-completion/completions/cardwright"
fail_unless test -s "$work/installed/share/man/man1/cardwright.1"

# On a terminal, the first ingestion offers to set up the archive.
if command -v script >/dev/null; then
  rm -rf "$HOME" && mkdir -p "$HOME"
  answers=$'y\n'"$work/archive2"$'\n'"$work/backup"$'\n'
  out=$(printf '%s' "$answers" | script -qec "'$cw' ingest --card card/DCIM --dry-run" /dev/null)
  fail_unless grep -q "PrimaryFolder  $work/archive2" <<<"$out"
fi

[[ $failed -eq 0 ]] && echo "All command-line checks passed."
exit $((failed > 0))
