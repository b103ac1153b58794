#!/usr/bin/env bash
# Compiles the plug-in's frame code with every compiler and optimisation level at hand, for
# x86-64 and 32-bit ARM, and checks that the bitwise CRC has no conditional branch but its own
# loop: one backward branch (the next byte) and at most one forward branch past the loop (an
# empty frame). Prints one line per build; exits 1 when any build has another branch.
#
#   bench/check_crc_branches.sh            # from the source tree; needs no build directory
set -euo pipefail

src_dir=$(cd "$(dirname "$0")/.." && pwd)
source_file=$src_dir/driver/ModbusFrame.cpp
symbol=_ZN12ModbusFrameN5crc16EPKhi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name | compiler and target flags | objdump
builds=(
    "gcc x86-64|g++|objdump"
    "clang x86-64|clang++|objdump"
    "gcc arm|arm-linux-gnueabihf-g++|arm-linux-gnueabihf-objdump"
    "clang arm|clang++ --target=arm-linux-gnueabihf|arm-linux-gnueabihf-objdump"
)

failed=0
for build in "${builds[@]}"; do
    IFS='|' read -r name compiler objdump <<<"$build"
    for level in -O2 -O3; do
        object=$work/crc.o
        # shellcheck disable=SC2086  # the compiler entry carries its target flags
        if ! $compiler -std=c++17 $level -I"$src_dir/driver/include" -c "$source_file" \
            -o "$object" 2>"$work/log"; then
            echo "$name $level: not built ($(head -n1 "$work/log"))"
            continue
        fi
        # The function's instructions as "address mnemonic target".
        "$objdump" -d --no-show-raw-insn "$object" |
            awk -v sym="<$symbol>:" '$2 == sym {on = 1; next} on && /^$/ {on = 0} on {print}' \
                >"$work/crc.s"
        verdict=$(python3 - "$work/crc.s" <<'PY'
import re
import sys

# Conditional branches: x86 j<cc> (not jmp); ARM b<cc>, cbz, cbnz (not b, bl, bx).
CONDITIONAL = re.compile(r"^(j(?!mp)[a-z]+|b(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le)(\.[nw])?|cbn?z)$")
lines = [l for l in open(sys.argv[1]) if l.strip()]
branches = []
for line in lines:
    fields = line.split()
    target = re.search(r"\b([0-9a-f]+) <", line)
    if len(fields) >= 2 and CONDITIONAL.match(fields[1]) and target:
        branches.append((int(fields[0].rstrip(":"), 16), int(target.group(1), 16)))
back = [b for b in branches if b[1] <= b[0]]
# A forward branch must leave the loop: land beyond every back edge.
exits = [b for b in branches if b[1] > b[0] and all(b[1] > e[0] for e in back)]
others = len(branches) - len(back) - len(exits)
if len(back) == 1 and len(exits) <= 1 and others == 0:
    print(f"ok ({len(lines)} instructions; loop branch, {len(exits)} exit branch)")
else:
    print(f"FAIL ({len(branches)} conditional branches, {len(back)} backward)")
PY
)
        echo "$name $level: $verdict"
        [[ $verdict == ok* ]] || failed=1
    done
done
exit $failed
