#include <qarn/toolkit/Progress.h>

#include <unistd.h>

#include <algorithm>

namespace qarn {

namespace {
constexpr int kBarWidth = 24;
}

Progress::Progress(std::string label, int total)
    : Progress(std::move(label), total, stderr, isatty(STDERR_FILENO) == 1) {}

Progress::Progress(std::string label, int total, std::FILE* out, bool enabled)
    : label_(std::move(label)), total_(std::max(total, 1)), out_(out), enabled_(enabled) {}

std::string Progress::line(int done, const std::string& note) const {
    done = std::clamp(done, 0, total_);
    const int filled = done * kBarWidth / total_;
    std::string text = label_ + " [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " +
                       std::to_string(done) + "/" + std::to_string(total_);
    if (!note.empty()) {
        text += " " + note;
    }
    return text;
}

void Progress::update(int done, const std::string& note) {
    if (!enabled_) {
        return;
    }
    // Carriage return, the line, then erase what a longer line before left behind.
    std::fprintf(out_, "\r%s\033[K", line(done, note).c_str());
    std::fflush(out_);
    drawn_ = true;
}

void Progress::clear() {
    if (drawn_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        drawn_ = false;
    }
}

}  // namespace qarn
