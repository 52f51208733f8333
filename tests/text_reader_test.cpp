// TextReader: the DOS reading rules, line pieces and the starting number, over
// every read size a source may deliver.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "memory_streams.h"
#include "plain_reading.h"

namespace {

using namespace std::string_literals;

// Read sizes that put block boundaries everywhere: single bytes, odd sizes, one
// piece, and larger than the reader's own block.
constexpr std::size_t READ_SIZES[] = {1, 2, 7, 499, 500, 4096, static_cast<std::size_t>(-1)};

std::vector<std::string> read_all_pieces(TextReader& in) {
    std::vector<std::string> pieces;
    for (auto piece = read_piece(in); !piece.empty(); piece = read_piece(in)) pieces.emplace_back(as_text(piece));
    return pieces;
}

std::vector<std::string> pieces_of(std::string_view data, std::size_t chunk) {
    MemorySource source{data, chunk};
    TextReader in;
    attach_reader(in, MemorySource::read, &source);
    return read_all_pieces(in);
}

struct PieceCase {
    const char* name;
    std::string input;
    std::vector<std::string> pieces;
};

const std::string LONG_LINE = std::string(998, 'a') + "bc\n";  // 1000 bytes with the line feed

const PieceCase PIECE_CASES[] = {
    {"CrLfBecomesLf", "a\r\nb\r\n", {"a\n", "b\n"}},
    {"EveryCrIsDropped", "a\r\r\nb", {"a\n", "b"}},
    {"LoneCrIsDropped", "a\rb\n", {"ab\n"}},
    {"EndMarkEndsTheText", "x\n\x1Ay\n", {"x\n"}},
    {"EndMarkInsideALine", "ab\x1A\ncd\n", {"ab"}},
    {"EndMarkAlone", "\x1A", {}},
    {"Empty", "", {}},
    {"NothingButCrs", "\r\r\r\r", {}},
    {"NulAndHighBytesPassUnchanged", "a\0b\x81\x7A\xFF\n"s, {"a\0b\x81\x7A\xFF\n"s}},
    {"EmptyLines", "\n\r\n\n", {"\n", "\n", "\n"}},
    {"LastLineWithoutLineFeed", "a\nlast", {"a\n", "last"}},
    {"LongLineInPiecesOf499", LONG_LINE, {LONG_LINE.substr(0, 499), LONG_LINE.substr(499, 499), "bc\n"}},
    {"LineOf499WithoutLineFeed", std::string(499, 'x'), {std::string(499, 'x')}},
    {"LineOf500WithoutLineFeed", std::string(500, 'x'), {std::string(499, 'x'), "x"}},
    {"LineOf998WithoutLineFeed", std::string(998, 'x'), {std::string(499, 'x'), std::string(499, 'x')}},
    {"LineFeedAfter499Bytes", std::string(499, 'x') + "\r\n", {std::string(499, 'x'), "\n"}},
    {"BareLineFeedAfter499Bytes", std::string(499, 'x') + "\n", {std::string(499, 'x'), "\n"}},
    {"CrLfAfter498Bytes", std::string(498, 'x') + "\r\n", {std::string(498, 'x') + "\n"}},
    {"CrLfSplitByTheEndMark", "a\r\x1A\n", {"a"}},
    {"LineFeedAs499thByte", std::string(498, 'x') + "\n", {std::string(498, 'x') + "\n"}},
    {"LengthCountedAfterCrRemoval",
     std::string(300, 'x') + "\r\r" + std::string(199, 'y') + "\n",
     {std::string(300, 'x') + std::string(199, 'y'), "\n"}},
};

class PieceTest : public testing::TestWithParam<PieceCase> {};

TEST_P(PieceTest, GivesThePiecesForEveryReadSize) {
    for (const std::size_t chunk : READ_SIZES) {
        EXPECT_EQ(pieces_of(GetParam().input, chunk), GetParam().pieces) << "reads of " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(ReadingRules, PieceTest, testing::ValuesIn(PIECE_CASES),
                         [](const auto& info) { return info.param.name; });

constexpr std::size_t SWEEP_READ_SIZES[] = {1, 7, 4096, 131072, static_cast<std::size_t>(-1)};

// Random listings built from the byte runs the rules treat specially, some longer
// than the reader's block, so that every carried-over tail and cut is met. One mix
// is DOS text, with CRs almost only in CR LF pairs; the other has CRs anywhere.
TEST(PieceSweep, MatchesTheByteAtATimeReading) {
    std::mt19937 random(20261211);
    const std::string tokens[] = {
        "a", "b", "\r\n", "\n", "\r", std::string(1, '\0'), "\x81", "\x7A", "\x1A", std::string(200, 'c')};
    std::discrete_distribution<int> dos({400, 400, 30, 2, 0.002, 10, 40, 40, 0.002, 3});
    std::discrete_distribution<int> noisy({400, 400, 30, 12, 60, 20, 40, 40, 0.002, 3});
    for (auto* mix : {&dos, &noisy}) {
        for (const std::size_t size : {10, 600, 1500, 140000, 300000}) {
            for (int round = 0; round < 4; ++round) {
                std::string input;
                while (input.size() < size) input += tokens[(*mix)(random)];
                const auto expected = plain_pieces(plain_text(input));
                for (const std::size_t chunk : SWEEP_READ_SIZES) {
                    if (chunk == 1 && size > 2000) continue;  // slow, and no boundary it would add
                    ASSERT_EQ(pieces_of(input, chunk), expected) << "size " << size << ", reads of " << chunk;
                }
            }
        }
    }
}

struct NumberCase {
    const char* name;
    std::string input;
    std::optional<std::int32_t> number;  // none: no number found
    std::vector<std::string> pieces;     // what the input holds after the number
};

const NumberCase NUMBER_CASES[] = {
    {"Plain", "5\r\n", 5, {"\n"}},
    {"LeadingWhiteSpace", "\t\n\v\f\r 12\n", 12, {"\n"}},
    {"NegativeThenText", "  -42abc\n", -42, {"abc\n"}},
    {"PlusSign", "+7\n", 7, {"\n"}},
    {"LeadingZeroIsDecimal", "0x1A", 0, {"x1A"}},
    {"LeadingZerosAreDecimal", "010\n", 10, {"\n"}},
    {"SignThenSpaceLosesTheSign", "- 5\n", std::nullopt, {" 5\n"}},
    {"SignThenLetterLosesTheSign", "-x\n", std::nullopt, {"x\n"}},
    {"TextFirst", "abc\n", std::nullopt, {"abc\n"}},
    {"HighByteIsNotWhiteSpace", "\x81 5", std::nullopt, {"\x81 5"}},
    {"NulIsNotWhiteSpace", "\0 5"s, std::nullopt, {"\0 5"s}},
    {"NumberAtTheEnd", "5", 5, {}},
    {"Empty", "", std::nullopt, {}},
    {"OnlyWhiteSpace", " \r\n\t", std::nullopt, {}},
    {"EndMarkBeforeDigits",
     "\x1A"
     "5\n",
     std::nullopt,
     {}},
    {"EndMarkEndsDigits",
     "12\x1A"
     "34",
     12,
     {}},
    {"CrInsideDigitsDropped", "1\r2\n", 12, {"\n"}},
    {"Max", "2147483647", 2147483647, {}},
    {"TwoToThe31Wraps", "2147483648", INT32_MIN, {}},
    {"TwoToThe32IsZero", "4294967296", 0, {}},
    {"BelowMinWraps", "-2147483649", 2147483647, {}},
    {"Min", "-2147483648", INT32_MIN, {}},
    {"TwoToThe64IsZero", "18446744073709551616", 0, {}},
    {"TwoToThe64PlusOne", "18446744073709551617", 1, {}},
    {"ManyDigits", "-" + std::string(60, '9') + "\n", 1, {"\n"}},  // 10^60 - 1 ≡ -1 (mod 2^32)
};

class NumberTest : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberTest, ReadsTheStartingNumber) {
    for (const std::size_t chunk : {std::size_t{1}, static_cast<std::size_t>(-1)}) {
        MemorySource source{GetParam().input, chunk};
        TextReader in;
        attach_reader(in, MemorySource::read, &source);
        std::int32_t value = 77;
        const bool found = read_int(in, value);
        EXPECT_EQ(found, GetParam().number.has_value());
        EXPECT_EQ(value, GetParam().number.value_or(77)) << "reads of " << chunk;
        EXPECT_EQ(read_all_pieces(in), GetParam().pieces) << "reads of " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(ReadInt, NumberTest, testing::ValuesIn(NUMBER_CASES),
                         [](const auto& info) { return info.param.name; });

TEST(ReadError, EndsTheDataAndIsTold) {
    // The error strikes inside the third line: the whole lines before it come out,
    // the cut one does not.
    MemorySource source{"one\ntwo\nthree\n", 3, 10};
    TextReader in;
    attach_reader(in, MemorySource::read, &source);
    EXPECT_EQ(read_all_pieces(in), (std::vector<std::string>{"one\n", "two\n"}));
    EXPECT_TRUE(in.failed);
    EXPECT_TRUE(read_piece(in).empty());
}

TEST(ReadError, BeforeTheNumber) {
    MemorySource source{"12\n", 1, 0};
    TextReader in;
    attach_reader(in, MemorySource::read, &source);
    std::int32_t value = 0;
    EXPECT_FALSE(read_int(in, value));
    EXPECT_TRUE(read_piece(in).empty());
    EXPECT_TRUE(in.failed);
}

TEST(ReadError, CleanEndIsNotAFailure) {
    MemorySource source{"a\n"};
    TextReader in;
    attach_reader(in, MemorySource::read, &source);
    read_all_pieces(in);
    EXPECT_FALSE(in.failed);
}

}  // namespace
