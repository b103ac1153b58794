#!/usr/bin/env bash
# Instructions per read of ten holding registers: the plug-in's Read against libmodbus's
# modbus_read_registers, both on the same simulated slave that answers at once, counted by
# callgrind over the same span (one call of each side's read function; see ReadPeers.cpp).
#
#   bench/callgrind_read.sh [BUILD_DIR] [N] [PLUGIN]
#
# BUILD_DIR defaults to build/bench (the `bench` preset), N (reads counted per side) to 200,
# PLUGIN to the plug-in file of that build. Prints the build type and a table; the CRC shares are
# the plug-in's CRC function, and the two libmodbus routines that use its CRC tables.
set -euo pipefail

src_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$src_dir/build/bench}
reads=${2:-200}
plugin=${3:-}

cmake --build "$build_dir" --target qarn_read_peers >/dev/null
exe=$build_dir/bench/qarn_read_peers
out=$(mktemp)
trap 'rm -f "$out" "$out.txt"' EXIT

# Every symbol bound at load time, so that no lazy binding falls into a counted read.
LD_BIND_NOW=1 valgrind --tool=callgrind --callgrind-out-file="$out" \
    --toggle-collect='*countedPluginRead*' --toggle-collect='*countedLibmodbusRead*' \
    "$exe" "$reads" ${plugin:+"$plugin"} >/dev/null 2>"$out.log" ||
    { cat "$out.log" >&2; rm -f "$out.log"; exit 1; }
rm -f "$out.log"

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt"; }
build_type=$(cache CMAKE_BUILD_TYPE)
compiler=$(cache CMAKE_CXX_COMPILER)
flags=$(cache "CMAKE_CXX_FLAGS_$(tr '[:lower:]' '[:upper:]' <<<"$build_type")")
echo "build: $build_dir, $build_type ($flags), $("$compiler" --version | head -n1), $(uname -m)"
echo "span: one call of ProtocolBase::Read or modbus_read_registers; $reads counted reads per side"
echo

callgrind_annotate --inclusive=yes --threshold=100 "$out" >"$out.txt" 2>/dev/null
/usr/bin/python3 - "$reads" "$out.txt" <<'PY'
import re
import subprocess
import sys

reads = int(sys.argv[1])
LINE = re.compile(r"^\s*([\d,]+) \([^)]*\)\s+[^:]*:(.*) \[(.*)\]$")
costs = {}  # (function, object) -> inclusive instructions
for line in open(sys.argv[2]):
    m = LINE.match(line)
    if m:
        costs[(m.group(2), m.group(3))] = int(m.group(1).replace(",", ""))


def inclusive(pattern):
    """Summed inclusive cost of the functions whose name matches, and the object of the last."""
    total, obj = 0, None
    for (function, o), cost in costs.items():
        if re.fullmatch(pattern, function):
            total, obj = total + cost, o
    return total, obj


# The first 16 bytes of the two tables of the table-driven Modbus CRC.
CRC_TABLES = [bytes.fromhex("00C1814001C0804101C0804100C18140"),
              bytes.fromhex("00C0C101C30302C2C60607C705C5C404")]


def table_crc_functions(library):
    """Addresses (as callgrind names them) of the library's functions that use the CRC tables."""
    data = open(library, "rb").read()
    segments = []
    for line in subprocess.run(["readelf", "-lW", library], capture_output=True, text=True,
                               check=True).stdout.splitlines():
        f = line.split()
        if f and f[0] == "LOAD":
            segments.append((int(f[1], 16), int(f[2], 16), int(f[4], 16)))
    tables = set()
    for table in CRC_TABLES:
        at = data.find(table)
        for offset, vaddr, size in segments:
            if at >= 0 and offset <= at < offset + size:
                tables.add(at - offset + vaddr)
    found = []
    for (function, obj), _ in costs.items():
        if obj != library or not re.fullmatch(r"0x[0-9a-f]+", function):
            continue
        start = int(function, 16)
        text = subprocess.run(["objdump", "-d", "--no-show-raw-insn",
                               f"--start-address={start}", f"--stop-address={start + 0x400}",
                               library], capture_output=True, text=True, check=True).stdout
        for line in text.splitlines():
            ref = re.search(r"# ([0-9a-f]+)\b", line)
            if ref and int(ref.group(1), 16) in tables:
                found.append(function)
                break
            if re.search(r"\sret\b", line):
                break
    return found


plugin, _ = inclusive(r"ProtocolBase::Read\(ITag const\*, unsigned char\*\)")
plugin_crc, _ = inclusive(r"ModbusFrameN::crc16\(.*")
port, _ = inclusive(r"refhost::SerialPort::(Drain|Send|Receive)\(.*")
port_frames, _ = inclusive(r"rtu::(expect|fitAnswer)\(.*")
peer, library = inclusive(r"modbus_read_registers")
peer_crc = sum(costs[(f, library)] for f in table_crc_functions(library)) if library else 0
if not plugin or not peer:
    sys.exit("callgrind_read: no counted reads found")

rows = [
    ("plug-in Read (ProtocolBase::Read)", plugin),
    ("  its CRC (ModbusFrameN::crc16)", plugin_crc),
    ("  the reference host's port (Drain, Send, Receive)", port),
    ("    of which judging the answer (rtu::expect, rtu::fitAnswer, CRCs included)",
     port_frames),
    ("  the rest of the plug-in", plugin - plugin_crc - port),
    ("libmodbus modbus_read_registers", peer),
    ("  its CRC (the two table-CRC routines)", peer_crc),
    ("  the rest of libmodbus", peer - peer_crc),
]
for name, cost in rows:
    print(f"{name:<80} {cost / reads:8.0f}")
print(f"{'ratio plug-in / libmodbus':<80} {plugin / peer:8.2f}")
print(f"{'ratio without the reference host port':<80} {(plugin - port) / peer:8.2f}")
PY
