#include "NearestWord.h"

#include <algorithm>

namespace qarn {

namespace {

// Edits from `a` to `b`, a swap of two neighbours counting as one.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

}  // namespace

std::string nearestWord(const std::string& typed, const std::vector<std::string>& words) {
    if (typed.empty()) {
        return std::string();
    }
    std::vector<std::string> prefixed;
    for (const std::string& w : words) {
        if (w.compare(0, typed.size(), typed) == 0) {
            prefixed.push_back(w);
        }
    }
    if (prefixed.size() == 1) {
        return prefixed.front();
    }
    const size_t allowed = typed.size() <= 4 ? 1 : 2;
    std::string best;
    size_t bestDistance = allowed + 1;
    bool tie = false;
    for (const std::string& w : words) {
        const size_t distance = editDistance(typed, w);
        if (distance < bestDistance) {
            best = w;
            bestDistance = distance;
            tie = false;
        } else if (distance == bestDistance) {
            tie = true;
        }
    }
    return tie ? std::string() : best;
}

}  // namespace qarn
