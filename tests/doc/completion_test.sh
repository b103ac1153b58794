#!/usr/bin/env bash
# The generated bash completion, driven as bash drives it: COMP_WORDS in, COMPREPLY out.
# Usage: completion_test.sh COMPLETION_FILE QARN
set -uo pipefail
completion=$1
qarn=$2
# shellcheck source=/dev/null
source "$completion" || { echo "cannot source $completion"; exit 1; }

failures=0
# complete LINE: the candidates for the last word of LINE (a trailing space starts a new word).
complete_line() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _qarn
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}
expect() {
    local got
    got=$(complete_line "$1")
    if [[ $got != "$2" ]]; then
        echo "FAIL: '$1' completes to '$got', expected '$2'"
        failures=$((failures + 1))
    fi
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/store.ini" "$scratch/tags.txt"

# line                                 candidates
expect "qarn --ver"                    "--version"
expect "qarn rea"                      "read"
expect "qarn --trace re"               "read"
expect "qarn read --for"               "--format"
expect "qarn read --format "           "csv json table text"
expect "qarn poll --format "           "auto csv jsonl table"
expect "qarn read --parity e"          "even"
expect "qarn write --mode RS-4"        "RS-422 RS-485"
expect "qarn read --baud 1920"         "19200"
expect "qarn poll --echo o"            "off on"
expect "qarn read --timeout "          ""
expect "qarn poll --tags $scratch/ta"  "$scratch/tags.txt"
expect "qarn read --store $scratch/s"  "$scratch/store.ini"
expect "qarn simulate --no-p"          "--no-pace"
# info does not talk to the line, so it has no port options.
expect "qarn info --ech"               ""

# Every command the tool lists is offered, and each one's own --help options too.
mapfile -t commands < <("$qarn" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF {print $1}')
if ((${#commands[@]} == 0)); then
    echo "FAIL: no commands found in $qarn --help"
    failures=$((failures + 1))
fi
offered=" $(complete_line "qarn ") "
for command in "${commands[@]}"; do
    [[ $offered == *" $command "* ]] || { echo "FAIL: command $command not offered"; failures=$((failures + 1)); }
    options=" $(complete_line "qarn $command -") "
    for option in $("$qarn" "$command" --help | grep -oE '^  (-[a-z],)?--[a-z-]+' | sed 's/.*,//; s/^ *//'); do
        [[ $options == *" $option "* ]] || { echo "FAIL: qarn $command $option not offered"; failures=$((failures + 1)); }
    done
done

if ((failures > 0)); then
    echo "$failures completion case(s) failed"
    exit 1
fi
echo "completion: all cases passed for ${#commands[@]} commands"
