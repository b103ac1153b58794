#pragma once
// Which build a plug-in file is. The plug-in's identity numbers never change and it exports one
// symbol, so its version travels in an ELF note (owner "qarn", type 1) that the tool reads from
// the file itself, beside the linker's GNU build ID. 32- and 64-bit, either byte order.

#include <string>

namespace qarn {

struct PluginBuild {
    std::string version;  // the note's text; empty when the file carries none
    std::string buildId;  // the GNU build ID in hex; empty when the file carries none
};

// Reads the notes of the ELF file `path`. False with `error` when the file cannot be read or is
// no well-formed ELF file; a file without the notes is fine and leaves the fields empty.
bool readPluginBuild(const std::string& path, PluginBuild& build, std::string& error);
// The same for a file's bytes.
bool parsePluginBuild(const std::string& image, PluginBuild& build, std::string& error);

}  // namespace qarn
