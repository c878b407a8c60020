#!/bin/bash
# The bash completion kept in step with the program's own command table:
# every command velmorctl --help lists is completed, and every option of a
# command's usage line is offered after that command. A command the table
# marks as moving the motor (its help describes --wait) has --wait on its
# usage line and offered, and no other command has.
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
    help=$("$ctl" "$c" --help)
    usage=$(head -1 <<<"$help")
    after=$(complete_line "velmorctl $c --")
    motion=no; grep -q -- '^  --wait ' <<<"$help" && motion=yes
    on_usage=no; grep -q -- '\[--wait' <<<"$usage" && on_usage=yes
    offered_wait=no; grep -qx -- --wait <<<"$after" && offered_wait=yes
    [[ $motion == "$on_usage" && $motion == "$offered_wait" ]] ||
        { echo "$c: moves the motor $motion, --wait on its usage $on_usage, completed $offered_wait"; fail=1; }
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
