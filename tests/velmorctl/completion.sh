#!/bin/bash
# The bash completion kept in step with the program's own command table:
# every command velmorctl --help lists is completed, and every option of a
# command's usage line is offered after that command.
# Usage: completion.sh VELMORCTL COMPLETION-FILE
set -u
ctl=$1
source "$2" || exit 1

# Completes the line as typed so far; the candidates, one a line.
complete_line() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _velmorctl
    printf '%s\n' "${COMPREPLY[@]}"
}

fail=0
commands=$("$ctl" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p')
[[ -n $commands ]] || { echo "no commands in velmorctl --help"; exit 1; }
offered=$(complete_line "velmorctl ")
for c in $commands; do
    grep -qx -- "$c" <<<"$offered" || { echo "command $c is not completed"; fail=1; }
    usage=$("$ctl" "$c" --help | head -1)
    after=$(complete_line "velmorctl $c --")
    for opt in $(grep -o -- '--[a-z][a-z-]*' <<<"${usage#*] }" | sort -u); do
        grep -qx -- "$opt" <<<"$after" || { echo "option $opt of $c is not completed"; fail=1; }
    done
done
# The options before any command.
first=$(complete_line "velmorctl --")
for opt in $("$ctl" --help | sed -n 's/^  \(--[a-z-]*\) .*/\1/p'); do
    grep -qx -- "$opt" <<<"$first" || { echo "option $opt is not completed"; fail=1; }
done
exit $fail
