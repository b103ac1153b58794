#pragma once
// A one-line progress bar on the error stream for long runs (scans, timing checks). It draws only
// when the stream is a terminal, so piped and logged output stays clean, and erases itself.

#include <cstdio>
#include <string>

namespace qarn {

class Progress {
  public:
    // Draws on `out` when `enabled`; by default when standard error is a terminal.
    Progress(std::string label, int total);
    Progress(std::string label, int total, std::FILE* out, bool enabled);
    ~Progress() { clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `done` of the total so far, with a short note such as the node being probed.
    void update(int done, const std::string& note = "");
    // Erases the bar, e.g. before printing results; the next update draws it again.
    void clear();

    // The line as drawn, without the terminal's control characters.
    std::string line(int done, const std::string& note) const;

  private:
    std::string label_;
    int total_;
    std::FILE* out_;
    bool enabled_;
    bool drawn_ = false;
};

}  // namespace qarn
