// The conversion over in-memory streams: row headers, cells, filler cells and the
// byte rules of the scan.
#include "entry_table.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "listing_bytes.h"
#include "memory_streams.h"

namespace {

using namespace std::string_literals;

std::string convert(std::string_view input, std::size_t read_size = static_cast<std::size_t>(-1)) {
    MemorySource source{input, read_size};
    MemorySink sink;
    MemoryStreams streams(source, sink);
    convert_entries(streams.in, streams.out);
    EXPECT_TRUE(close_writer(streams.out));
    EXPECT_FALSE(streams.in.failed);
    return sink.bytes;
}

// The bytes that `write` hands a writer, as its sink receives them.
template <typename Write>
std::string written(Write write) {
    MemorySink sink;
    TextWriter out;
    attach_writer(out, MemorySink::write, &sink, 64);
    write(out);
    close_writer(out);
    return sink.bytes;
}

const unsigned char* bytes_of(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

struct ConversionCase {
    const char* name;
    std::string input;
    std::string output;
};

const std::string CUT = std::string(497, 'a');  // with O or M after it, the 498th and 499th bytes

const ConversionCase CONVERSION_CASES[] = {
    {"NumberOnly", "5\r\n", ""},
    {"Empty", "", ""},
    {"RowsWithAndWithoutFiller",
     "5\r\n" + O + L + "Alice\r\n" + O + "ka" + M + "va\r\n" + O + "kb" + M + "vb\r\n" + O + L + "Bob\r\n" + O + L +
         "Carol\r\n",
     "\r\n|005|Alice|va|vb|\r\n|006|Bob| |\r\n|007|Carol|"},
    {"TwoFieldsGetOneFiller", "1\n" + O + L + "a\n" + O + "k" + M + "b\n" + O + L + "c\n",
     "\r\n|001|a|b| |\r\n|002|c|"},
    {"MoreThanThreeFields", "1\n" + O + L + "a\n" + M + "b\n" + M + "c\n" + M + "d\n" + O + L + "e\n",
     "\r\n|001|a|b|c|d|\r\n|002|e|"},
    {"ZeroPaddingUpTo100", "99\n" + O + L + "a\n" + O + L + "b\n" + O + L + "c\n",
     "\r\n|099|a| |\r\n|100|b| |\r\n|101|c|"},
    {"OneDigitToTwo", "9\n" + O + L + "a\n" + O + L + "b\n", "\r\n|009|a| |\r\n|010|b|"},
    {"LargeNumber", "1234\n" + O + L + "a\n", "\r\n|1234|a|"},
    {"NegativeNumbersTakeTwoZeros", "-3\n" + O + "k" + M + "v\n" + O + L + "n\n", "v|\r\n|00-3|n|"},
    {"LabelAndASecondMarker", "1\n" + O + L + "x" + O + "k" + M + "y\n",
     "\r\n|001|x" + O + "k" + M + "y| |\r\n|002|y|"},
    {"LabelTestCoversTheWholePiece", "1\n" + O + "k" + M + "x" + O + L + "y\n",
     "\r\n|001|x" + O + L + "y| |\r\n|002|y|"},
    {"MarkerAcrossCharacterBoundary", "1\n" + O + "k" + M + "a\x81\x81zb\n", "a\x81\x81zb|b|"},
    {"TextOnTheNumbersLine", "7 " + O + L + "z\n", "\r\n|007|z|"},
    {"MarkerBeforeLineFeed", "1\n" + O + L + "\n", "\r\n|001||"},
    {"LinesWithoutMarkersAreSkipped", "1\nplain\n\n" + O + L + "a\nmore\n", "\r\n|001|a|"},
    {"CrAndEndMarkRulesApply", "1\r\n" + O + L + "a\rb\r\n\x1A" + O + L + "c\r\n", "\r\n|001|ab|"},
    {"NulEndsTheScan", "1\na\0"s + O + L + "x\n", ""},
    {"ValueRunsPastNul", "1\n" + O + L + "a\0"s + M + "b\n", "\r\n|001|a\0"s + M + "b|"},
    {"LabelAfterNulNotSeen", "1\n" + O + "k" + M + "v\0"s + L + "\n", "v\0"s + L + "|"},
    {"AllByteValuesCopied", "1\n" + M + "\x01\x7F\x80\xFE\xFF\t\n", "\x01\x7F\x80\xFE\xFF\t|"},
    // No starting number: rows are numbered from 1, the text is read as a piece.
    {"NoNumberStartsAt1", "abc" + O + L + "x\n" + O + L + "y\n", "\r\n|001|x| |\r\n|002|y|"},
    {"OnlyWhiteSpaceBeforeMarkers", "  \r\n" + O + L + "x\n", "\r\n|001|x|"},
    {"LongNumberModulo2To32", "4294967301\n" + O + L + "x\n", "\r\n|005|x|"},
    {"EntryNumberWraps", "2147483647\n" + O + L + "a\n" + O + L + "b\n", "\r\n|2147483647|a| |\r\n|00-2147483648|b|"},
    // A field without a line feed after it ends with its piece.
    {"LastLineWithoutLineBreak", "1\n" + O + L + "x", "\r\n|001|x|"},
    {"MarkerAtTheVeryEnd", "1\n" + O + L, "\r\n|001||"},
    {"FieldInACutLine", "1\n" + O + L + std::string(483, 'v') + "tail\n", "\r\n|001|" + std::string(483, 'v') + "|"},
    {"RestOfACutLineIsItsOwnPiece", "1\n" + O + L + std::string(483, 'v') + "t" + M + "w\n",
     "\r\n|001|" + std::string(483, 'v') + "|w|"},
    {"MarkerSplitBetweenPiecesNotFound", "1\n" + CUT + "b" + M + "x\n", ""},
    {"MarkerEndingAPiece", "1\n" + CUT + M + "x\n", "|"},
    {"LabelSplitBetweenPiecesNotFound", "1\n" + std::string(490, 'a') + L + "x\n", "x|"},
};

class ConversionTest : public testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTest, WritesTheTable) {
    EXPECT_EQ(convert(GetParam().input), GetParam().output);
    EXPECT_EQ(convert(GetParam().input, 1), GetParam().output) << "reads of one byte";
}

INSTANTIATE_TEST_SUITE_P(Listings, ConversionTest, testing::ValuesIn(CONVERSION_CASES),
                         [](const auto& info) { return info.param.name; });

TEST(RowHeader, ZeroPrefixBySignedComparison) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0, "|000|"},
        {7, "|007|"},
        {-3, "|00-3|"},
        {10, "|010|"},
        {99, "|099|"},
        {100, "|100|"},
        {1234, "|1234|"},
        {INT32_MAX, "|2147483647|"},
        {INT32_MIN, "|00-2147483648|"},
    };
    for (const auto& [number, cell] : cases) {
        // Captured by copy: clang++ 14 cannot capture a structured binding itself.
        const auto header = [number = number](TextWriter& out) { write_row_header(out, number); };
        EXPECT_EQ(written(header), "\r\n"s + cell) << number;
    }
}

TEST(ScanPiece, IgnoresWhatLiesBeyondThePiece) {
    // A piece cut inside a label, as a long line leaves it: the bytes after it in
    // memory must not complete the label or the value.
    const std::string label_cut = L.substr(0, 13);
    const std::string piece = "k" + M + "v" + label_cut;
    std::string expected = "v" + label_cut;
    expected += '|';
    for (const unsigned char beyond : {0x00, 0x7A, 0xFF}) {
        unsigned char buffer[PIECE_BUFFER_SIZE];
        std::fill(std::begin(buffer), std::end(buffer), beyond);
        std::copy(piece.begin(), piece.end(), buffer);
        ConversionState state;
        EXPECT_EQ(written([&](TextWriter& out) { scan_piece(buffer, piece.size(), state, out); }), expected)
            << int{beyond};
    }
}

TEST(ScanPiece, FieldCountDoesNotOverflow) {
    ConversionState state{1, INT32_MAX};
    const std::string field = M + "v\n";
    const std::string entry = L + "e\n";
    const std::string table = written([&](TextWriter& out) {
        scan_piece(bytes_of(field), field.size(), state, out);
        scan_piece(bytes_of(entry), entry.size(), state, out);
    });
    EXPECT_EQ(table, "v|\r\n|001|e|");  // a full row, so no filler cell
}

TEST(ConvertEntries, StopsAtAReadError) {
    const std::string input = "1\n" + O + L + "a\n" + O + L + "b\n";
    MemorySource source{input, static_cast<std::size_t>(-1), input.size() - 1};
    MemorySink sink;
    MemoryStreams streams(source, sink);
    convert_entries(streams.in, streams.out);
    close_writer(streams.out);
    EXPECT_TRUE(streams.in.failed);
    EXPECT_EQ(sink.bytes, "\r\n|001|a|");  // the line the error cut is not converted
}

TEST(ConvertEntries, StopsReadingAfterAWriteFailure) {
    std::string input = "1\n";
    for (int i = 0; i < 1000; ++i) input += O + L + "a value long enough to fill buffers\n";
    MemorySource source{input, 64};
    MemorySink sink;
    sink.fail_after = 0;
    MemoryStreams streams(source, sink, 16);
    convert_entries(streams.in, streams.out);
    EXPECT_TRUE(streams.out.failed);
    EXPECT_LT(source.pos, input.size());
}

}  // namespace
