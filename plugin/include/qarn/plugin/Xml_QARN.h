#pragma once
// The embedded, zlib-compressed protocol description. The block is generated at build time from
// driver/Xml_QARN.xml: header text, size line "compressedXML=<n>", the n-byte stream and the end
// marker, each piece NUL-terminated where it is text, in one contiguous block.

// Points at the size line; the stream follows its NUL, the end marker follows the stream.
const char* GetXml_QARN();
