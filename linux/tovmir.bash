# Bash completion of tovmir, the meter window: its options, and the serial devices (the
# stable /dev/serial/by-id names first) for its one operand.
_tovmir() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
    return
  fi
  local ports
  ports=$(ls -d /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* 2>/dev/null)
  COMPREPLY=($(compgen -W "$ports" -- "$cur"))
}
complete -o filenames -F _tovmir tovmir
