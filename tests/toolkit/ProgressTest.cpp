#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <qarn/toolkit/Progress.h>

namespace qarn {
namespace {

std::string drawn(bool enabled) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    {
        Progress progress("scan", 4, out, enabled);
        progress.update(1, "node 1");
        progress.update(9);  // past the end: shown as full
    }
    std::fclose(out);
    std::string text(buffer, size);
    free(buffer);
    return text;
}

TEST(Progress, DrawsInPlaceAndErasesItselfOnlyWhenEnabled) {
    EXPECT_EQ(drawn(true),
              "\rscan [######..................] 1/4 node 1\033[K"
              "\rscan [########################] 4/4\033[K"
              "\r\033[K");
    EXPECT_EQ(drawn(false), "");
}

}  // namespace
}  // namespace qarn
