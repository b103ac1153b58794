#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (corpus/<target>/) from the readable list below.

Run from anywhere: fuzz/make_corpus.py. The files are committed; rerun after editing a seed.
Inputs that a fuzzer found and that were fixed are kept as files of their own (corpus/*/crash-*)
and are not touched here.
"""
import pathlib

HERE = pathlib.Path(__file__).resolve().parent

LINE = b"CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 "

# Answer script modes (README.md).
SILENCE, RAW, CRC, HINTED, WRAP, STALE = 0, 1, 2, 3, 4, 8


def answer(mode, body=b""):
    return bytes([mode]) if mode & 3 == SILENCE else bytes([mode, len(body)]) + body


def op(code, answers=(), extra=b""):
    return bytes([code, len(answers)]) + b"".join(answers) + extra


def h(text):
    return bytes.fromhex(text)


# Set-up byte: model (0 GenericModbus, 1 EM24, 2 ISMG1xx, 3 WM40) | repeat << 2 (0:0 1:1 2:2
# 3:-1) | 0x10 presetFunction=16 | 0x20 maxOptLen=20. Operation byte: tag | access << 4 with
# access 0 read, 1 write, 2 merged read, 3 array item.
GENERIC, EM24, ISMG, WM40 = 0, 1, 2, 3
R0, R1, R2, RNEG = 0 << 2, 1 << 2, 2 << 2, 3 << 2
F16, OPT20 = 0x10, 0x20
READ, WRITE, MERGED, ITEM = 0x00, 0x10, 0x20, 0x30

registers125 = bytes(range(250))

TRANSACTION = {
    "read-register": bytes([GENERIC | R2]) + op(READ | 0, [answer(HINTED, h("02 12 34"))]),
    "read-125-registers": bytes([WM40 | R2]) + op(READ | 12, [answer(HINTED, b"\xfa" + registers125)]),
    "read-bad-crc-then-good": bytes([GENERIC | R2])
    + op(READ | 0, [answer(RAW, h("01 03 02 12 34 00 00")), answer(HINTED, h("02 AB CD"))]),
    "read-extra-byte": bytes([GENERIC | R0]) + op(READ | 0, [answer(HINTED, h("02 12 34 56"))]),
    "read-oversized-answer": bytes([WM40 | R0])
    + op(READ | 12, [answer(HINTED, b"\xfa" + registers125 + bytes(4))]),
    "read-wrong-byte-count": bytes([GENERIC | R0]) + op(READ | 0, [answer(HINTED, h("05 12 34"))]),
    "read-wrong-function": bytes([GENERIC | R0]) + op(READ | 0, [answer(CRC, h("01 04 02 12 34"))]),
    "read-130-registers": bytes([GENERIC | R0]) + op(READ | 13, [answer(HINTED, h("04 00 01 00 02"))]),
    "read-exception": bytes([GENERIC | R1]) + op(READ | 0, [answer(CRC, h("01 83 02"))]),
    "read-wrong-node": bytes([GENERIC | R1]) + op(READ | 0, [answer(CRC, h("02 03 02 00 01"))]),
    "read-byte-count": bytes([GENERIC | R0]) + op(READ | 6, [answer(HINTED, h("02 01 00"))]),
    "read-silent": bytes([GENERIC | R2]) + op(READ | 0, [answer(SILENCE), answer(STALE | SILENCE)]),
    "read-no-repeat": bytes([GENERIC | RNEG]) + op(READ | 0, [answer(HINTED, h("02 00 01"))]),
    "read-ismg": bytes([ISMG | R2])
    + op(READ | 0, [answer(RAW, h("01 03 02 00 07")), answer(HINTED | WRAP, h("02 00 07"))]),
    "read-inputs": bytes([GENERIC | R2]) + op(READ | 7, [answer(HINTED, h("03 A5 5A 0F"))]),
    "read-float-swap": bytes([EM24 | R2]) + op(READ | 2, [answer(HINTED, h("04 00 00 3F 80"))]),
    "read-string": bytes([EM24 | R2]) + op(READ | 5, [answer(HINTED, b"\x0a" + b"QARN meter")]),
    "write-register": bytes([GENERIC | R2])
    + op(WRITE | 0, [answer(HINTED, h("00 00 AB CD"))], h("CD AB")),
    "write-register-bad-echo": bytes([GENERIC | R2])
    + op(WRITE | 0, [answer(HINTED, h("00 00 AB CE"))], h("CD AB")),
    "write-byte-read-first": bytes([GENERIC | R2])
    + op(WRITE | 1, [answer(CRC, h("01 03 02 11 22")), answer(CRC, h("01 06 00 01 77 22"))], h("77")),
    "write-coil": bytes([GENERIC | R2]) + op(WRITE | 6, [answer(CRC, h("01 05 00 0B FF 00"))], h("01")),
    "write-multiple": bytes([GENERIC | R2 | F16])
    + op(WRITE | 3, [answer(HINTED, h("00 63 00 28"))], bytes(range(80))),
    "write-bcd": bytes([GENERIC | R2 | F16])
    + op(WRITE | 11, [answer(CRC, h("02 10 FF FE 00 02"))], h("39 30 00 00")),
    "override-then-read": bytes([GENERIC | R2])
    + op(WRITE | 9, [], h("07"))
    + op(READ | 9)
    + op(READ | 0, [answer(HINTED, h("02 00 2A"))]),
    "override-disabled": bytes([GENERIC | R2]) + op(WRITE | 9, [], h("FF")) + op(READ | 0),
    "broadcast": bytes([GENERIC | R2]) + op(WRITE | 14, [], h("01 00")) + op(READ | 14),
    "broadcast-writes": bytes([GENERIC | R2])
    + op(WRITE | 9, [], h("00"))
    + op(WRITE | 8, [], bytes([1, 0, 2, 0, 0, 1, 1, 1, 0, 0, 0, 9, 1]))
    + op(WRITE | 13, [], bytes(range(256)) + bytes(4)),
    "broadcast-writes-16": bytes([GENERIC | R2 | F16])
    + op(WRITE | 9, [], h("00"))
    + op(WRITE | 13, [], bytes(range(255, -1, -1)) + bytes(4)),
    "slave-address": bytes([ISMG | R2])
    + op(WRITE | 10, [answer(CRC | WRAP, h("01 08 01 CC 02 62 00 01 09"))], h("09"))
    + op(READ | 10),
    "merged-read": bytes([GENERIC | R2])
    + op(MERGED | 0, [answer(HINTED, h("04 12 34 56 78"))], bytes([1])),
    "merged-read-limit": bytes([EM24 | R2 | OPT20])
    + op(MERGED | 0, [answer(HINTED, h("06 12 34 56 78 9A BC"))], bytes([15]))
    + op(MERGED | 0, [answer(HINTED, h("02 12 34"))], bytes([3])),
    "array-item": bytes([GENERIC | R2])
    + op(ITEM | 3, [answer(HINTED, b"\x50" + bytes(range(80)))], h("05 00"))
    + op(ITEM | 3, [], h("FF 00")),
}

CONFIG = {
    "minimal": LINE + b"defNodeId=1 model=GenericModbus",
    "nodes": LINE
    + b"defNodeId=1 timeout=500 Node1::defNodeId=1 Node1::model=EM24 Node2::defNodeId=2 "
    b"Node2::presetFunction=16 Node2::model=ISMG1xx Node2::repeat=0 Node2::delay=20",
    "escaped-and-second-marker": b"head CfgVer=1 uart=my&nbsp;port baudrate=19200 parity=none "
    b"bits=7 stopbits=2 mode=RS-232 defNodeId=3 maxOptLen=20 CfgVer=2 baudrate=0",
    "bad-parity": LINE.replace(b"even", b"space") + b"defNodeId=1",
    "bad-mode": LINE.replace(b"RS-485", b"RS485") + b"defNodeId=1",
    "zero-baud": LINE.replace(b"9600", b"0") + b"defNodeId=1",
    "prefixed-line-setting": LINE + b"defNodeId=1 Node1::defNodeId=1 Node1::baudrate=19200",
    "node-only": b"CfgVer=1 uart=com2 baudrate=115200 parity=odd bits=8 stopbits=1 mode=RS-422 "
    b"Node7::defNodeId=7 Node::defNodeId=0 NodeX1::timeout=5",
    "no-marker": b"uart=com1 baudrate=9600",
}

# Tag inputs: configuration selector (0 generic, 1 EM24 with function 16, 2 ISMG1xx, 3 several
# nodes), then the address.
TAG = {
    "register": b"\x00" + b"1?HREG?400001?unsignedShort",
    "coil-in-input-range": b"\x00" + b"1?OUTP?15000?boolean",
    "inputs": b"\x00" + b"1?INP?100009?boolean-16(inv)",
    "top-register": b"\x01" + b"1?HREG?465535?float(swap2,neg)",
    "slave-address": b"\x02" + b"1?SL?5?unsignedByte",
    "second-node": b"\x03" + b"2?IREG?300001.1?byte",
    "model-missing": b"\x03" + b"3?HREG?400001?short",
    "node-override": b"\x00" + b"1?NO?0?unsignedByte",
    "blanks-and-hex": b"\x00" + b" 2 ? HREG ? 0x61A81 ? int-4(swap4) ",
    "object-subindex": b"\x00" + b"1?HREG?400001.1?object",
    "bit-of-register": b"\x01" + b"1?HREG?400001.15?boolean",
    "three-fields": b"\x00" + b"1?HREG?400001",
    "octal": b"\x00" + b"1?HREG?01415201?string-4",
}

CONSOLE = {
    "commands": bytes([40, 0])
    + b"help\ninfo\nxml\ngetmaxtm\nlasterror\ngetid\nsetid 1 5\ngetid\nsetid 1\n"
    b"deletetags\nHELP\n read x\n\thelp\n",
    "read": bytes([10, 1]) + answer(HINTED, h("04 12 34 56 78")) + b"read 1?HREG?400001?int\n",
    "write": bytes([64, 1])
    + answer(CRC, h("01 06 00 00 12 34"))
    + b"write 1?HREG?400001?unsignedShort 3412\nlasterror\n",
    "bad-writes": bytes([3, 0])
    + b"write 1?HREG?400001?short 12g4\nwrite 1?HREG?400001?short 123\n"
    b"read  1?HREG?400001?short\nwrite\nread 1?HREG?99?short\n",
    "no-buffer": bytes([0, 0]) + b"help\ninfo\nread 1?NO?0?unsignedByte\n",
    "one-byte": bytes([1, 1]) + answer(HINTED, h("02 00 01")) + b"read 1?HREG?400001?short\n",
}


def frame(mode, body, delivery=0x10):
    return bytes([mode, delivery, len(body)]) + body


# Frame modes: 1 CRC, 2 ISMG wrapper, 4 node (mode >> 4) & 3 in front.
def node(n):
    return 0x05 | (n << 4)


SIM_FRAMES = [
    frame(node(1), h("03 00 00 00 0A")),
    frame(node(1), h("06 00 01 12 34")),
    frame(node(1), h("10 00 00 00 02 04 00 01 00 02")),
    frame(node(1), h("05 00 00 FF 00"), 0x13),
    frame(node(1), h("01 00 00 07 D0")),
    frame(node(1), h("01 00 00 00 10")),
    frame(node(2), h("04 00 00 00 02")),
    frame(node(2), h("03 01 00 00 05")),
    frame(node(2), h("2B 0E 01 00")),
    frame(node(3) | 2, h("03 00 00 00 02")),
    frame(node(3) | 2, h("08 01 CC 02 62 00 01 05")),
    frame(node(0), h("06 00 00 00 01")),
    frame(0x00, h("01 02 03"), 0x00),
    frame(node(1), h("03 00 00 00 7E"), 0x3F),
]

SIM = {
    "frames": b"\x00" + b"".join(SIM_FRAMES),
    "twice": b"\x01" + b"".join(SIM_FRAMES * 2),
    "back-to-back": b"\x02" + b"".join(f[:1] + b"\x00" + f[2:] for f in SIM_FRAMES),
}


def main():
    for target, seeds in (("transaction", TRANSACTION), ("config", CONFIG), ("tag", TAG),
                          ("console", CONSOLE), ("sim", SIM)):
        folder = HERE / "corpus" / target
        folder.mkdir(parents=True, exist_ok=True)
        for old in folder.glob("seed-*"):
            old.unlink()
        for name, data in seeds.items():
            (folder / f"seed-{name}").write_bytes(data)


if __name__ == "__main__":
    main()
