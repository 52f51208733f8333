// The conversion: opening the two files, the scan of each line piece, row headers.
#include "entry_table.h"

#include <cassert>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "textio/byte_scan.h"

namespace {

constexpr const char* INPUT_NAME = "input.txt";
constexpr const char* OUTPUT_NAME = "output.txt";

// The messages are part of the tool's interface, which scripts may match. The
// second has always ended in "m" without a line break, and stays so.
constexpr std::string_view CANT_OPEN_INPUT = "can't open -input.txt-\n";
constexpr std::string_view CANT_OPEN_OUTPUT = "can't open -output.txt-m";
constexpr std::string_view CANT_READ_INPUT = "can't read -input.txt-\n";
constexpr std::string_view CANT_WRITE_OUTPUT = "can't write -output.txt-\n";

constexpr std::string_view FILLER_CELL = " |";
constexpr std::string_view CELL_END = "|";

constexpr std::size_t LABEL_TEXT_BYTES = ENTRY_LABEL.size() - FIELD_MARKER.size();

// The first byte at or after `from` in piece[0, length) that is NUL or the marker's
// second byte, which Japanese text holds far less often than its first; or `length`.
std::size_t next_nul_or_marker_end(const unsigned char* piece, std::size_t from, std::size_t length) {
    return find_either(piece, from, length, 0, FIELD_MARKER[1]);
}

// ENTRY_LABEL ends in a field marker, so it lies in a piece exactly where the 12
// bytes before a marker are the label's text.
bool ends_entry_label(const unsigned char* piece, std::size_t marker) {
    return marker >= LABEL_TEXT_BYTES &&
           std::memcmp(piece + marker - LABEL_TEXT_BYTES, ENTRY_LABEL.data(), LABEL_TEXT_BYTES) == 0;
}

// Two's complement wrap-around, so 2147483647 is followed by -2147483648.
std::int32_t next_entry_number(std::int32_t number) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 1U);
}

bool same_file(const char* a, const char* b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

// Writes a failure's message out at once and gives the exit status for it.
int report(TextWriter& console, std::string_view message) {
    write_bytes(console, message);
    flush_writer(console);
    return 1;
}

}  // namespace

void write_row_header(TextWriter& out, std::int32_t entry_number) {
    // "|" + "00" + "-2147483648" + "|"
    char cell[1 + 2 + 11 + 1] = {'|', '0', '0'};
    const std::size_t zeros = entry_number < 10 ? 2 : entry_number < 100 ? 1 : 0;
    char* const end = std::to_chars(cell + 1 + zeros, cell + sizeof cell - 1, entry_number).ptr;
    *end = '|';
    write_newline(out);
    write_plain(out, std::string_view(cell, static_cast<std::size_t>(end + 1 - cell)));
}

void scan_piece(const unsigned char* piece, std::size_t length, ConversionState& state, TextWriter& out) {
    // The label test looks at the whole piece, not at the text before each marker,
    // so every marker is found before the first field is written. A piece of 499
    // bytes holds at most 249 markers.
    std::size_t markers[PIECE_MAX_BYTES / FIELD_MARKER.size()];
    std::size_t count = 0;
    bool starts_entry = false;
    assert(length <= PIECE_MAX_BYTES);
    // Markers are matched at every byte position, Shift_JIS character boundaries or
    // not: a double-byte character whose trail byte is 0x81, then "z", holds one too.
    // The walk stops at the first NUL, where a NUL-terminated line buffer would end
    // the scan; a value already begun still runs past NULs to the line feed.
    for (std::size_t at = next_nul_or_marker_end(piece, 0, length); at < length && piece[at] != 0;
         at = next_nul_or_marker_end(piece, at + 1, length)) {
        if (at == 0 || piece[at - 1] != FIELD_MARKER[0]) continue;
        markers[count++] = at - 1;
        starts_entry = starts_entry || ends_entry_label(piece, at - 1);
    }
    if (count == 0) return;

    // A piece holds a line feed only as its last byte; a piece without one (a cut
    // line, or a last line without a line break) has its values end with the piece.
    const std::size_t value_end = piece[length - 1] == '\n' ? length - 1 : length;
    for (std::size_t i = 0; i < count; ++i) {
        if (starts_entry) {
            if (state.row_fields < ROW_MIN_FIELDS) write_plain(out, FILLER_CELL);
            state.row_fields = 0;
            write_row_header(out, state.entry_number);
            state.entry_number = next_entry_number(state.entry_number);
        }
        // Each value runs to the end of the line, over any later markers in it: those
        // start further fields of their own.
        const std::size_t value = markers[i] + FIELD_MARKER.size();
        write_plain(out, piece + value, value_end - value);
        write_plain(out, CELL_END);
        if (state.row_fields < std::numeric_limits<std::int32_t>::max()) ++state.row_fields;
    }
}

void convert_entries(TextReader& in, TextWriter& out) {
    ConversionState state;
    // Without a starting number the rows are numbered from 1; the bytes that are not
    // a number stay in the input as the first piece.
    read_int(in, state.entry_number);
    while (!out.failed) {
        const std::span<const unsigned char> piece = read_piece(in);
        if (piece.empty()) break;
        scan_piece(piece.data(), piece.size(), state, out);
    }
}

int run_conversion() {
    TextWriter console;
    open_standard_output(console);

    TextReader in;
    if (!open_reader(in, INPUT_NAME)) return report(console, CANT_OPEN_INPUT);
    // Truncating an output that is the input itself, through a link, would destroy
    // the listing before it is read.
    TextWriter out;
    if (same_file(INPUT_NAME, OUTPUT_NAME) || !open_writer(out, OUTPUT_NAME)) {
        close_reader(in);
        return report(console, CANT_OPEN_OUTPUT);
    }

    convert_entries(in, out);
    const bool read_failed = in.failed;
    close_reader(in);
    const bool written = close_writer(out);

    int status = 0;
    if (read_failed) status = report(console, CANT_READ_INPUT);
    if (!written) status = report(console, CANT_WRITE_OUTPUT);
    return status;
}
