# bash completion for ouzel-convert: options, encoding names, presets, --eol and --bom values.
# Options, encodings and presets are asked of the program itself, so they follow its version.

# Important: names are matched as the command line accepts them, whatever the letter case,
# '-', '_' and blanks ("utf8" finds UTF-8); compgen -W would match them exactly.
_ouzel_convert_matching() {
  local word=$1
  shift
  printf '%s\n' "$@" | awk -v word="$word" '
    function fold(s) { s = tolower(s); gsub(/[-_ ]/, "", s); return s }
    BEGIN { w = fold(word) }
    index(fold($0), w) == 1'
}

# Adds each line of standard input to COMPREPLY, quoted for the command line.
_ouzel_convert_reply() {
  local line
  while IFS= read -r line; do
    [ -n "$line" ] && COMPREPLY+=("$(printf '%q' "$line")")
  done
}

_ouzel_convert() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local prog=${COMP_WORDS[0]}
  COMPREPLY=()
  case "$prev" in
    -f | --from | -t | --to)
      local -a names
      mapfile -t names < <("$prog" --list-encodings 2>/dev/null)
      _ouzel_convert_reply < <(_ouzel_convert_matching "${cur//\\/}" "${names[@]}")
      return
      ;;
    --candidates)
      # A comma-separated list: complete its last item, keep the ones before.
      local head="" last=$cur
      if [[ $cur == *,* ]]; then
        head=${cur%,*},
        last=${cur##*,}
      fi
      local -a names
      mapfile -t names < <("$prog" --list-presets 2>/dev/null;
                           "$prog" --list-encodings 2>/dev/null)
      _ouzel_convert_reply < <(_ouzel_convert_matching "$last" "${names[@]}" |
                               while IFS= read -r name; do printf '%s\n' "$head$name"; done)
      compopt -o nospace 2>/dev/null
      return
      ;;
    --eol)
      _ouzel_convert_reply < <(_ouzel_convert_matching "$cur" keep lf crlf)
      return
      ;;
    --bom)
      _ouzel_convert_reply < <(_ouzel_convert_matching "$cur" keep add remove)
      return
      ;;
    -j | --threads)
      return
      ;;
    --filter)
      return
      ;;
    -c | --config | -r | --report)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      compopt -o filenames 2>/dev/null
      return
      ;;
    -o | --output)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      compopt -o filenames 2>/dev/null
      return
      ;;
  esac
  if [[ $cur == -* ]]; then
    local -a options
    mapfile -t options < <(LC_ALL=C "$prog" --help 2>/dev/null |
                           grep -oE '^  (-[a-zA-Z], |    )--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+')
    mapfile -t COMPREPLY < <(compgen -W "${options[*]}" -- "$cur")
    return
  fi
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  compopt -o filenames 2>/dev/null
}
complete -F _ouzel_convert ouzel-convert
