# Bash completion for zentrova, zentrova-gui and zrgen.
# The options come from the programs' own --help, so they are always those of the installed
# version; file names are offered for the arguments that take files.

# The options that `$@ --help` lists, one per word.
_zentrova_help_options() {
  "$@" --help 2>/dev/null | sed -n 's/^  \(-[^ ]*\).*/\1/p' | tr ',' '\n'
}

# Files whose names end in one of the given patterns, and folders to go on into.
_zentrova_files() {
  local cur=$1 pattern=$2 IFS=$'\n' extglob_was_on=0
  shopt -q extglob && extglob_was_on=1
  shopt -s extglob
  compopt -o filenames 2>/dev/null
  COMPREPLY+=($(compgen -d -- "$cur"))
  COMPREPLY+=($(compgen -f -X "!$pattern" -- "$cur"))
  ((extglob_was_on)) || shopt -u extglob
}

_zentrova() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} program=${COMP_WORDS[0]}
  local command="" i positional=0
  COMPREPLY=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      -*) ;;
      *) if [[ -z $command ]]; then command=${COMP_WORDS[i]}; else ((positional++)); fi ;;
    esac
  done
  case $prev in
    --codec)
      COMPREPLY=($(compgen -W "$("$program" codecs 2>/dev/null | cut -f1)" -- "$cur"))
      return ;;
    --idct) COMPREPLY=($(compgen -W "auto plain vector" -- "$cur")); return ;;
    --rate) COMPREPLY=($(compgen -W "auto classic" -- "$cur")); return ;;
    --timing) COMPREPLY=($(compgen -W "rate recorded" -- "$cur")); return ;;
    --format)
      if [[ $command == hash ]]; then COMPREPLY=($(compgen -W "md5 sha256" -- "$cur"))
      else COMPREPLY=($(compgen -W "avi mkv mp4" -- "$cur")); fi
      return ;;
    --min-psnr) return ;;
    --generation) COMPREPLY=($(compgen -W "older newer" -- "$cur")); return ;;
    --size)  # the recorder's picture sizes
      COMPREPLY=($(compgen -W "160x112 176x144 240x176 256x192 320x240 352x288 640x240 704x288" -- "$cur"))
      return ;;
    --quality|-j|--jobs|--from|--to|--duration|--clock-offset) return ;;
    --frame-times) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")); return ;;
    -o|--output-dir) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")); return ;;
  esac
  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "$(_zentrova_help_options "$program")" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "$("$program" --help 2>/dev/null | sed -n '/^Subcommands:/,$ s/^  \([a-z][^ ]*\).*/\1/p')" -- "$cur"))
    fi
    return
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_zentrova_help_options "$program" "$command")" -- "$cur"))
    return
  fi
  case $command in
    convert)
      # With -o every argument is a recording or a folder of them; without, the second is the AVI file;
      # with --join recordings come first and the output last.
      if [[ " ${COMP_WORDS[*]} " == *" --join "* ]] && ((positional > 0)); then
        _zentrova_files "$cur" '*.@(zr|zrx|ZR|ZRX|avi|AVI|mkv|mp4)'
      elif ((positional == 0)) || [[ " ${COMP_WORDS[*]} " == *" -o "* || " ${COMP_WORDS[*]} " == *" --output-dir "* ]]; then
        _zentrova_files "$cur" '*.@(zr|zrx|ZR|ZRX)'
      else
        _zentrova_files "$cur" '*avi'
      fi ;;
    info|hash) _zentrova_files "$cur" '*.@(zr|zrx)' ;;
    # The output (or a report) first, then its recording.
    verify)
      if ((positional == 0)); then _zentrova_files "$cur" '*@(avi|.mkv|.mp4|.report.json)'
      else _zentrova_files "$cur" '*.@(zr|zrx|ZR|ZRX)'; fi ;;
    # A damaged recording, a disk image or a device may have any name.
    recover) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$cur")) ;;
  esac
}

_zentrova_gui() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_zentrova_help_options "${COMP_WORDS[0]}")" -- "$cur"))
    return
  fi
  _zentrova_files "$cur" '*.@(zr|zrx)'
}

_zrgen() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  COMPREPLY=()
  case $prev in
    --idct) COMPREPLY=($(compgen -W "auto plain vector" -- "$cur")); return ;;
    --video) COMPREPLY=($(compgen -W "pattern still -" -- "$cur")); _zentrova_files "$cur" '*'; return ;;
    --audio) COMPREPLY=($(compgen -W "tone silence none -" -- "$cur")); _zentrova_files "$cur" '*'; return ;;
    --gallery) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$cur")); return ;;
    -r|--resolution-code|--format-version|-n|--frames|--rate|-q|--quantiser|--intra-quantiser|--intra-period|-g|--groups|--frames-per-block|--tone-hz|--tone-amplitude|--seed|--start-time|--text1|--text2|--text3|--image-mb)
      return ;;
  esac
  if [[ ${COMP_WORDS[1]} == damage ]]; then
    if ((COMP_CWORD == 2)); then
      COMPREPLY=($(compgen -W "power-loss bad-sector-block bad-sector-frame bad-sector-video lost-header truncated concatenated disk-image" -- "$cur"))
      return
    fi
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "$(_zentrova_help_options "${COMP_WORDS[0]}" damage)" -- "$cur"))
      return
    fi
  elif [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_zentrova_help_options "${COMP_WORDS[0]}")" -- "$cur"))
    return
  fi
  _zentrova_files "$cur" '*.@(zr|zrx)'
}

complete -F _zentrova zentrova
complete -F _zentrova_gui zentrova-gui
complete -F _zrgen zrgen
