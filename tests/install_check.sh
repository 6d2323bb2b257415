#!/usr/bin/env bash
# What `cmake --install` puts in place, used from there: tovmir-tool answers --version, its
# manual page renders without a warning, its bash completion completes; the Linux meter
# answers --version, its desktop entry is valid and its icon is there in every size.
#   install_check.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

cmake --install "$build" --prefix "$root/usr" >/dev/null
fail() { echo "install_check: $*" >&2; exit 1; }

got=$("$root/usr/bin/tovmir-tool" --version)
[ "$got" = "tovmir-tool $version" ] || fail "--version says '$got'"

page=$root/usr/share/man/man1/tovmir-tool.1
[ -f "$page" ] || fail "no manual page at $page"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "the manual page has warnings: $warnings"
text=$(LC_ALL=C.UTF-8 MANWIDTH=80 MANPATH="$root/usr/share/man" man -E UTF-8 tovmir-tool 2>/dev/null)
grep -q "JSON OUTPUT" <<<"$text" || fail "man tovmir-tool does not find the page"
grep -q "tovmir $version" <<<"$text" || fail "the manual page does not name version $version"

completion=$root/usr/share/bash-completion/completions/tovmir-tool
[ -f "$completion" ] || fail "no bash completion at $completion"
words=$(bash -c 'source "$1"; COMP_WORDS=(tovmir-tool pl); COMP_CWORD=1; _tovmir_tool
                 echo "${COMPREPLY[*]}"; COMP_WORDS=(tovmir-tool replay --j); COMP_CWORD=2
                 _tovmir_tool; echo "${COMPREPLY[*]}"' _ "$completion")
[ "$words" = $'plot\n--json' ] || fail "the completion offers '$words'"

for doc in README.md LICENSE; do
  [ -f "$root/usr/share/doc/tovmir-tool/$doc" ] || fail "no $doc in share/doc/tovmir-tool"
done
got=$("$root/usr/bin/tovmir" --version)
[ "$got" = "tovmir $version" ] || fail "tovmir --version says '$got'"
entry=$root/usr/share/applications/tovmir.desktop
problems=$(desktop-file-validate "$entry" 2>&1) || fail "the desktop entry: $problems"
grep -qx "Icon=tovmir" "$entry" && grep -qx "Exec=tovmir" "$entry" || fail "the desktop entry's Exec and Icon"
for size in 16 24 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/tovmir.png
  [ "$(identify -format %wx%h "$png" 2>/dev/null)" = "${size}x${size}" ] || fail "no ${size}x${size} icon"
done
echo "install_check: installed and used: tovmir-tool $version (manual page, completion, README," \
     "LICENSE) and tovmir $version (desktop entry, icons)"
