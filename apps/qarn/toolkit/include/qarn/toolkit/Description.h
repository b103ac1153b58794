#pragma once
// The plug-in's published description: GetXml() points at the size line "compressedXML=N", its
// NUL, N bytes of zlib stream and the end marker "<<ORBA_XML_END>>".

#include <cstddef>
#include <string>

namespace qarn {

// Inflates the description that `sizeLine` starts. False with `error` when the block is not laid
// out as above or the stream does not inflate.
bool inflateDescription(const char* sizeLine, std::string& xml, std::string& error);

}  // namespace qarn
