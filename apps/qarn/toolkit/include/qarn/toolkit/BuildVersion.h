#pragma once
// The tool's version, generated at build time by cmake/qarn_version.py (library
// qarn_build_version): the project version and, when built from git, the git description.

namespace qarn {

const char* projectVersion();
// `git describe` of the source tree, e.g. "v1.0.0-5-gabc1234-dirty"; empty outside git.
const char* gitDescription();
// "1.0.0 (git v1.0.0-5-gabc1234)", or "1.0.0" outside git. The plug-in carries the same text.
const char* versionText();

}  // namespace qarn
