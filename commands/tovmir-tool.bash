# Bash completion of tovmir-tool: its commands, each command's options, and files, serial
# devices or ptys where an operand or a value is one of those.
_tovmir_tool() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local commands="replay figure monitor sim plot map"
  if [ "$COMP_CWORD" -eq 1 ]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  local options="--help --version -V"
  case ${COMP_WORDS[1]} in
    replay) options+=" --raw --json -j" ;;
    figure) options+=" --status --png" ;;
    monitor) options+=" --bars --json -j --log --listen --no-reconnect --gps --gps=" ;;
    sim) options+=" --port --seed" ;;
    plot) options+=" --png --width --height --port" ;;
    map) options+=" --geojson --gpx --kml --csv --png --width --height --port" ;;
    *) return ;;
  esac
  case $prev in
    --png|--log|--geojson|--gpx|--kml|--csv) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --port) COMPREPLY=($(compgen -W "$(ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/pts/[0-9]* 2>/dev/null)" -- "$cur")); return ;;
    --status|--seed|--width|--height|--listen) return ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [ "${COMP_WORDS[1]}" = monitor ]; then
    COMPREPLY=($(compgen -W "$(ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/pts/[0-9]* 2>/dev/null)" -- "$cur"))
  elif [ "${COMP_WORDS[1]}" != figure ]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _tovmir_tool tovmir-tool
