#pragma once
// The tags a scan polls, named: from a list file (one tag a line: a name, then the tag address;
// or NAME=ADDRESS; '#' starts a comment) or from command-line arguments (ADDRESS or NAME=ADDRESS).

#include <istream>
#include <string>
#include <vector>

namespace qarn {

struct TagSpec {
    std::string name;
    std::string address;
    std::string origin;  // where it was given, for messages: "FILE:LINE" or "argument N"
};

// Parses a tag list; `source` names it in messages. A line whose first word holds a '?' is an
// address alone and names itself. Throws UsageError("source:line: ...") for a bad line.
std::vector<TagSpec> parseTagList(std::istream& in, const std::string& source);
// Reads and parses a tag list file. Throws UsageError when it cannot be read.
std::vector<TagSpec> readTagList(const std::string& path);
// One command-line argument, the `position`-th (from 1).
TagSpec parseTagArgument(const std::string& argument, int position);
// Throws UsageError when the list is empty or a name is given twice.
void checkTagNames(const std::vector<TagSpec>& tags);

}  // namespace qarn
