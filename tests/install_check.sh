#!/usr/bin/env bash
# What `cmake --install` puts in place, used from there: tovmir-tool answers --version, its
# manual page renders without a warning, its bash completion completes; with the window
# built, tovmir does the same and its desktop entry, metainfo and icons are there. (The
# packages' own checks, lintian and the desktop's validators, are tests/package's.)
#   install_check.sh BUILD_DIR VERSION WINDOW(ON|OFF)
set -euo pipefail
build=$1 version=$2 window=$3
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

cmake --install "$build" --prefix "$root/usr" >/dev/null
fail() { echo "install_check: $*" >&2; exit 1; }

programs=(tovmir-tool)
[ "$window" = ON ] && programs+=(tovmir)
for program in "${programs[@]}"; do
  got=$("$root/usr/bin/$program" --version)
  [ "$got" = "$program $version" ] || fail "$program --version says '$got'"
  page=$root/usr/share/man/man1/$program.1.gz
  [ -f "$page" ] || fail "no manual page at $page"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the manual page of $program has warnings: $warnings"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 MANPATH="$root/usr/share/man" man -E UTF-8 "$program" \
           2>/dev/null)
  grep -q "tovmir $version" <<<"$text" || fail "man $program does not find the page of $version"
  [ -f "$root/usr/share/bash-completion/completions/$program" ] || fail "no completion of $program"
done

completion=$root/usr/share/bash-completion/completions/tovmir-tool
words=$(bash -c 'source "$1"; COMP_WORDS=(tovmir-tool pl); COMP_CWORD=1; _tovmir_tool
                 echo "${COMPREPLY[*]}"; COMP_WORDS=(tovmir-tool replay --j); COMP_CWORD=2
                 _tovmir_tool; echo "${COMPREPLY[*]}"' _ "$completion")
[ "$words" = $'plot\n--json' ] || fail "the completion of tovmir-tool offers '$words'"

if [ "$window" = ON ]; then
  # Its options (the ports it offers are the machine's own).
  words=$(bash -c 'source "$1"; COMP_WORDS=(tovmir --v); COMP_CWORD=1; _tovmir
                   echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/tovmir")
  [ "$words" = "--version" ] || fail "the completion of tovmir offers '$words'"
  entry=$(ls "$root"/usr/share/applications/*.desktop)
  id=$(basename "$entry" .desktop)
  [ -f "$root/usr/share/metainfo/$id.metainfo.xml" ] || fail "no metainfo $id.metainfo.xml"
  for size in 16 24 32 48 64 128 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ "$(identify -format %wx%h "$png" 2>/dev/null)" = "${size}x${size}" ] \
      || fail "no ${size}x${size} icon"
  done
fi
echo "install_check: installed and used: ${programs[*]} $version"
