// find_either, with and without the processor's wide compares, against a plain search
// for every run length, starting point and hit position up to a few blocks.
#include "textio/byte_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Finder = std::size_t (*)(const unsigned char*, std::size_t, std::size_t, unsigned char, unsigned char);

std::size_t plain(const unsigned char* data, std::size_t from, std::size_t size, unsigned char a, unsigned char b) {
    return static_cast<std::size_t>(
        std::find_if(data + from, data + size, [&](unsigned char c) { return c == a || c == b; }) - data);
}

class FindEitherTest : public testing::TestWithParam<Finder> {};

TEST_P(FindEitherTest, MatchesAPlainSearch) {
    const Finder find = GetParam();
    // Bytes that differ from the wanted ones by one bit, or by their high bit, are
    // where a word test goes wrong.
    const unsigned char fillers[] = {0x00, 0x01, 0x7B, 0xFA, 0x80, 0xFF};
    for (const unsigned char filler : fillers) {
        for (std::size_t size = 0; size <= 70; ++size) {
            for (std::size_t first = 0; first <= size; ++first) {
                for (std::size_t second = first; second <= size; second += 5) {
                    // A run in the middle of a larger buffer: nothing outside it may count.
                    std::vector<unsigned char> buffer(size + 32, 0x7A);
                    unsigned char* const run = buffer.data() + 16;
                    std::fill(run, run + size, filler);
                    if (first < size) run[first] = 0x7A;
                    if (second < size) run[second] = 0x00;
                    for (const std::size_t from : {0, 1, 3, 7, 8, 9, 15, 16, 17, 33}) {
                        if (from > size) break;
                        ASSERT_EQ(find(run, from, size, 0x00, 0x7A), plain(run, from, size, 0x00, 0x7A))
                            << "size " << size << ", from " << from << ", filler " << int{filler} << ", hits " << first
                            << " " << second;
                        ASSERT_EQ(find(run, from, size, 0x0A, 0x0A), plain(run, from, size, 0x0A, 0x0A));
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Both, FindEitherTest, testing::Values(&find_either, &byte_scan::find_either_in_words),
                         [](const auto& info) { return info.index == 0 ? "Widest" : "Words"; });

}  // namespace
