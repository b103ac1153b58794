#!/usr/bin/env python3
"""Checks the description block inside the built plug-in file.

Finds the container by its header, checks that the size line states the exact length of the zlib
stream that follows and that the end marker follows it directly, inflates the stream, compares it
with the source document byte for byte and reads it with an XML parser.

Usage: check_description.py --plugin libqarn.so --xml Xml_QARN.xml
"""
import argparse
import re
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

HEADER = b"<<ORBA_XML_START>>Name=QARN?FullName=Modbus Pelrosa?Version=114?Platform=KT52_LIN\0"
END_MARKER = b"<<ORBA_XML_END>>\0"
SIZE_PREFIX = b"compressedXML="
DECLARATION = b'<?xml version="1.0" encoding="utf-8"?>'
SHF_ALLOC = 0x2
SHT_NOBITS = 8

ARGS = None


def loaded_sections(image):
    """Yields the bytes of each section that is part of the loaded image.

    The debugger's copy of the block in the debug sections is not what the host sees.
    """
    if image[:4] != b"\x7fELF":
        raise AssertionError("not an ELF file")
    wide = image[4] == 2
    order = "<" if image[5] == 1 else ">"
    if wide:
        shoff, = struct.unpack_from(order + "Q", image, 0x28)
        shentsize, shnum = struct.unpack_from(order + "HH", image, 0x3A)
        layout = order + "IIQQQQ"
    else:
        shoff, = struct.unpack_from(order + "I", image, 0x20)
        shentsize, shnum = struct.unpack_from(order + "HH", image, 0x2E)
        layout = order + "IIIIII"
    for index in range(shnum):
        _, kind, flags, _, offset, size = struct.unpack_from(layout, image,
                                                             shoff + index * shentsize)
        if flags & SHF_ALLOC and kind != SHT_NOBITS:
            yield image[offset:offset + size]


def load_container():
    """Returns (size digits, stream, bytes after the stream) of the single container."""
    found = []
    for section in loaded_sections(ARGS.image):
        start = section.find(HEADER)
        while start >= 0:
            found.append((section, start))
            start = section.find(HEADER, start + 1)
    if len(found) != 1:
        raise AssertionError(f"expected one description header in the loaded image, "
                             f"found {len(found)}")
    section, start = found[0]
    size_line_start = start + len(HEADER)
    nul = section.index(b"\0", size_line_start)
    size_line = section[size_line_start:nul]
    if not size_line.startswith(SIZE_PREFIX):
        raise AssertionError(f"size line expected after the header, found {size_line[:40]!r}")
    digits = size_line[len(SIZE_PREFIX):]
    if not re.fullmatch(rb"[1-9][0-9]*", digits):
        raise AssertionError(f"size is not plain decimal: {digits!r}")
    stream_start = nul + 1
    stream = section[stream_start:stream_start + int(digits)]
    return digits, stream, section[stream_start + int(digits):]


class ContainerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.digits, cls.stream, cls.after = load_container()
        cls.source = ARGS.source

    def test_size_line_states_the_exact_stream_length(self):
        inflater = zlib.decompressobj()  # RFC 1950 framing is required
        inflater.decompress(self.stream)
        self.assertTrue(inflater.eof, "stream ends after the stated length")
        self.assertEqual(inflater.unused_data, b"", "stated length runs past the stream")

    def test_end_marker_follows_the_stream_directly(self):
        self.assertEqual(self.after[:len(END_MARKER)], END_MARKER)

    def test_stream_inflates_to_the_source_document(self):
        document = zlib.decompress(self.stream)
        self.assertTrue(document.startswith(DECLARATION))
        self.assertEqual(document, self.source)
        document.decode("utf-8")


def text(element):
    # All of the element's own text, also around its children: list choices and model
    # references must not add line breaks or indentation to the name a tool reads.
    return (element.text or "") + "".join(child.tail or "" for child in element)


class DocumentTest(unittest.TestCase):
    """The document read with a real XML parser: the names a host's tools take from it.

    The values themselves are the source document's, compared byte for byte above."""

    def test_sections_name_what_the_driver_takes(self):
        _, stream, _ = load_container()
        root = ElementTree.fromstring(zlib.decompress(stream))
        self.assertEqual([root.tag] + [root.findtext(t) for t in ("name", "display", "code")],
                         ["protocol_cfg", "QARN", "Modbus Pelrosa", "274"])
        names = {
            "parameters/parameter": [
                "CfgVer", "prefix", "defNodeId", "timeout", "delay", "repeat", "maxOptLen",
                "presetFunction", "uart", "baudrate", "parity", "bits", "stopbits", "mode",
                "model"],
            "memtypes/memtype": ["INP", "OUTP", "HREG", "IREG", "NO", "SL"],
            "tag_uri/tag_field": ["nodeid", "memorytype", "arrayindex.subindex", "datatype"],
            "models/model": ["EM21", "EM24", "EM26", "WM30", "WM40", "ISMG1xx", "ISMG3xx",
                             "GenericModbus"],
            "conversions/*": ["bcd", "swapnibble", "swap2", "swap4", "inv", "neg"],
        }
        for path, expected in names.items():
            self.assertEqual([text(e) for e in root.findall(path)], expected, path)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--plugin", required=True, type=argparse.FileType("rb"))
    parser.add_argument("--xml", required=True, type=argparse.FileType("rb"))
    ARGS, rest = parser.parse_known_args()
    ARGS.image = ARGS.plugin.read()
    ARGS.source = ARGS.xml.read()
    result = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
