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

    def test_header_is_82_bytes_with_its_nul(self):
        self.assertEqual(len(HEADER), 82)

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


def attributes(element, *names):
    return tuple(element.get(name) for name in names)


def text(element):
    # All of the element's own text, also around its children: list choices and model
    # references must not add line breaks or indentation to the name a tool reads.
    return (element.text or "") + "".join(child.tail or "" for child in element)


class DocumentTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        _, stream, _ = load_container()
        cls.root = ElementTree.fromstring(zlib.decompress(stream))

    def section(self, name):
        found = self.root.findall(name)
        self.assertEqual(len(found), 1, name)
        return found[0]

    def test_top_level_elements_in_order(self):
        self.assertEqual(self.root.tag, "protocol_cfg")
        self.assertEqual([child.tag for child in self.root], [
            "usesUart", "usesEthernet", "usesNetwork", "usesDatagram", "usesTags", "isReentrant",
            "isConverted", "isProtgen", "usesTask", "usesSemaphore", "usesDoCommand", "name",
            "display", "displayDlgTitle", "protGenVer", "code", "maxDisplayRows", "plcnet",
            "usesOfflineOpt", "defaultOrt", "minimumOrt", "defaultRpt", "parameters", "memtypes",
            "tag_uri", "models", "conversions"])
        values = {child.tag: child.text for child in self.root if len(child) == 0}
        for tag, value in [("usesUart", "true"), ("usesEthernet", "false"),
                           ("isProtgen", "true"), ("usesDoCommand", "true"), ("name", "QARN"),
                           ("display", "Modbus Pelrosa"), ("displayDlgTitle", "Modbus Pelrosa"),
                           ("protGenVer", "108"), ("code", "274"), ("maxDisplayRows", "14"),
                           ("defaultOrt", "30000"), ("minimumOrt", "1000"), ("defaultRpt", "3")]:
            self.assertEqual(values[tag], value, tag)
        plcnet = self.section("plcnet")
        self.assertEqual(dict(plcnet.attrib), {"alwaysEnable": "false", "locator": "slaveid"})
        self.assertIsNone(plcnet.text)

    def test_parameters(self):
        parameters = self.section("parameters").findall("parameter")
        self.assertEqual([text(p) for p in parameters], [
            "CfgVer", "prefix", "defNodeId", "timeout", "delay", "repeat", "maxOptLen",
            "presetFunction", "uart", "baudrate", "parity", "bits", "stopbits", "mode", "model"])
        by_key = {text(p): p for p in parameters}
        names = ("display", "default", "defaultValue", "type", "listType", "group",
                 "isNodeProperty", "isDistinct", "isMandatory")
        self.assertEqual(attributes(by_key["CfgVer"], *names),
                         ("none", "1", None, "prop_integer", None, "none", "false", "false",
                          "true"))
        self.assertEqual(attributes(by_key["prefix"], *names),
                         ("Alias", "", None, "prop_string", None, "none", "true", "true",
                          "false"))
        self.assertEqual(attributes(by_key["presetFunction"], *names),
                         ("Preset function", "06", "06", "prop_list", "prop_string", "none",
                          "true", "false", "false"))
        self.assertEqual(attributes(by_key["baudrate"], *names),
                         ("Baudrate", "9600", None, "prop_list", "prop_integer",
                          "communications", "false", "false", "true"))
        self.assertEqual(attributes(by_key["model"], *names),
                         ("Model", "EM21", "EM21", "prop_modelRef", None, "none", "true",
                          "false", "false"))
        choices = {key: [e.text for e in p.findall("list_entry")] for key, p in by_key.items()}
        self.assertEqual(choices["uart"], ["com%d" % n for n in range(1, 17)])
        self.assertEqual(choices["parity"], ["none", "even", "odd"])
        self.assertEqual(choices["mode"], ["RS-232", "RS-485", "RS-422"])
        self.assertEqual(choices["presetFunction"], ["06", "16"])
        # Only list parameters carry choices and a list type.
        for key, p in by_key.items():
            is_list = p.get("type") == "prop_list"
            self.assertEqual(bool(choices[key]), is_list, key)
            self.assertEqual(p.get("listType") is not None, is_list, key)

    def test_memtypes(self):
        memtypes = self.section("memtypes").findall("memtype")
        self.assertEqual([m.text for m in memtypes], ["INP", "OUTP", "HREG", "IREG", "NO", "SL"])
        names = ("display", "blockReadCount", "orbaTypes", "naturalType", "min", "max",
                 "isReadOnly")
        self.assertEqual(attributes(memtypes[0], *names),
                         ("Input bits", "16", "0x1001", "boolean", "100001", "165536", "true"))
        self.assertEqual(attributes(memtypes[3], *names),
                         ("IREG", "11", "0xff7ff", "unsignedShort", "300001", "365536", "true"))
        self.assertEqual(attributes(memtypes[4], *names),
                         ("Node Override ID", "0", "0x10", "unsignedByte", "0", "0", "false"))
        for m in memtypes:
            self.assertEqual(len(m.attrib), 15, m.text)
            for flag in ("canBitWrite", "isSwap2", "isSwap4", "hasInternalConversion",
                         "useInDatagram", "canBitArrayWrite", "isWriteOnly"):
                self.assertEqual(m.get(flag), "false", (m.text, flag))
            self.assertEqual(m.get("blockWriteCount"), "0", m.text)

    def test_tag_fields(self):
        fields = self.section("tag_uri").findall("tag_field")
        self.assertEqual([f.text for f in fields],
                         ["nodeid", "memorytype", "arrayindex.subindex", "datatype"])
        names = ("display", "default", "group", "type", "sub")
        self.assertEqual(attributes(fields[0], *names),
                         ("Node ID", "", "network", "prop_nodeRef", "false"))
        self.assertEqual(attributes(fields[3], *names),
                         ("Data Type", "boolean", "field", "prop_orbaType", "true"))
        for f in fields:
            self.assertEqual(attributes(f, "arrayType", "readonly", "conversion", "isMandatory"),
                             ("false", "true", "true", "true"), f.text)

    def test_models(self):
        models = self.section("models").findall("model")
        self.assertEqual([text(m) for m in models], [
            "EM21", "EM24", "EM26", "WM30", "WM40", "ISMG1xx", "ISMG3xx", "GenericModbus"])
        refs = {text(m): [(r.text, r.get("min"), r.get("max"), r.get("blockReadCount"))
                          for r in m.findall("memtype_ref")] for m in models}
        meter = [("HREG", "400001", "465535", None), ("IREG", "300001", "365535", None),
                 ("NO", "0", "0", None)]
        self.assertEqual(refs["EM26"], meter)
        self.assertEqual(refs["WM40"], [("HREG", "400001", "465535", "125")] + meter[1:])
        self.assertEqual(refs["ISMG3xx"], [("HREG", "400001", "465535", "15"),
                                           ("NO", "0", "0", None), ("SL", "1", "127", None)])
        self.assertEqual(refs["GenericModbus"], [
            ("INP", "100001", "165536", None), ("OUTP", "1", "65536", None),
            ("HREG", "400001", "465536", None), ("IREG", "300001", "365536", None),
            ("NO", "0", "0", None)])
        for m in models:
            self.assertEqual(attributes(m, "datagramCount", "datagramLength"), ("0", "0"))
        self.assertEqual(models[-1].get("display"), "Generic Modbus")

    def test_conversions(self):
        section = self.section("conversions")
        self.assertEqual(section.get("display"), "Conversions")
        self.assertEqual(
            [(c.text, c.get("display"), c.get("orbaTypes")) for c in section], [
                ("bcd", "BCD", "0x7e47e"), ("swapnibble", "AB->BA", "0x3feffe"),
                ("swap2", "ABCD->CDAB", "0x3ECBEC"), ("swap4", "ABCDEFGH->GHEFCDAB ", "0x1c81c8"),
                ("inv", "Inv bits", "0x71471"), ("neg", "Negate", "0x18e18e")])


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
