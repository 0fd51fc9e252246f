# bash completion for tagsnip-cli
_tagsnip_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case $word in
        -h | --help | --version) return ;;
        --) compopt -o filenames 2>/dev/null
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        esac
    done
    case ${COMP_WORDS[COMP_CWORD-1]} in
    --keep-removed | --restore) compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        return ;;
    --formats)
        local known=${cur%"${cur##*,}"}
        mapfile -t COMPREPLY < <(compgen -P "$known" -W "mp3 flac ogg aac wav aiff all" -- "${cur##*,}")
        compopt -o nospace 2>/dev/null
        return ;;
    esac
    if [[ $cur == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W '-s -t1 -t2 -a --all-tags --formats -i -l -m -p -x --one-file-system -0 --null --keep-removed --restore -h --help --version --' -- "$cur")
        return
    fi
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
}
complete -F _tagsnip_cli tagsnip-cli
