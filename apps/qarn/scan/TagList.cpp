#include <qarn/scan/TagList.h>

#include <cctype>
#include <fstream>
#include <map>

#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

bool blank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && blank(text[begin])) {
        ++begin;
    }
    while (end > begin && blank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

std::vector<TagSpec> parseTagList(std::istream& in, const std::string& source) {
    std::vector<TagSpec> tags;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        // Tag addresses never hold a '#', so a comment may follow one on its line.
        const std::string text = trim(line.substr(0, line.find('#')));
        if (text.empty()) {
            continue;
        }
        const std::string origin = source + ":" + std::to_string(number);
        // "NAME ADDRESS", and "NAME=ADDRESS" as on the command line (an address holds no '=').
        const size_t equals = text.find('=');
        size_t wordEnd = 0;
        while (wordEnd < text.size() && !blank(text[wordEnd]) && wordEnd != equals) {
            ++wordEnd;
        }
        const std::string first = text.substr(0, wordEnd);
        if (first.find('?') != std::string::npos) {
            tags.push_back(TagSpec{text, text, origin});
            continue;
        }
        std::string rest = trim(text.substr(wordEnd));
        if (!rest.empty() && rest[0] == '=') {
            rest = trim(rest.substr(1));
        }
        if (rest.empty()) {
            throw UsageError(origin + ": '" + first +
                             "' has no tag address (NAME NODE?AREA?ADDRESS?TYPE)");
        }
        tags.push_back(TagSpec{first, rest, origin});
    }
    if (in.bad()) {
        throw UsageError("cannot read the tag list '" + source + "'");
    }
    return tags;
}

std::vector<TagSpec> readTagList(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw UsageError("cannot read the tag list '" + path + "'");
    }
    return parseTagList(in, path);
}

TagSpec parseTagArgument(const std::string& argument, int position) {
    const std::string origin = "argument " + std::to_string(position);
    const size_t equals = argument.find('=');
    // Only an '=' before the address proper names the tag; the address itself holds none.
    if (equals != std::string::npos && argument.find('?') > equals) {
        const std::string name = trim(argument.substr(0, equals));
        const std::string address = trim(argument.substr(equals + 1));
        if (name.empty() || address.empty()) {
            throw UsageError(origin + ": '" + argument + "' is not NAME=ADDRESS");
        }
        return TagSpec{name, address, origin};
    }
    const std::string address = trim(argument);
    if (address.empty()) {
        throw UsageError(origin + ": empty tag address");
    }
    return TagSpec{address, address, origin};
}

void checkTagNames(const std::vector<TagSpec>& tags) {
    if (tags.empty()) {
        throw UsageError("no tags to poll: give TAG arguments or --tags FILE");
    }
    std::map<std::string, const TagSpec*> seen;
    for (const TagSpec& t : tags) {
        const auto [at, inserted] = seen.emplace(t.name, &t);
        if (!inserted) {
            throw UsageError(t.origin + ": the name '" + t.name + "' is already used at " +
                             at->second->origin);
        }
    }
}

}  // namespace qarn
