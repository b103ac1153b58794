#pragma once
// The page's files, built into the tool so that it serves them with no network and no install
// folder: our own HTML, CSS, script and icon, and the chart library from the build machine.

#include <cstddef>
#include <string>

namespace qarn::web {

struct Asset {
    const char* url;  // "/", "/app.js", ...
    const char* contentType;
    const unsigned char* data;
    size_t size;
};

// The asset served at `url`, or null.
const Asset* findAsset(const std::string& url);

}  // namespace qarn::web
