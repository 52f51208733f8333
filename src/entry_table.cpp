// The conversion: opening the two files, the scan of each line piece, row headers.
#include "entry_table.h"

#include <charconv>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

namespace {

constexpr const char* INPUT_NAME = "input.txt";
constexpr const char* OUTPUT_NAME = "output.txt";

// The messages are part of the tool's interface. The second has always ended in
// "m" without a line break, and callers match it as it stands.
constexpr std::string_view CANT_OPEN_INPUT = "can't open -input.txt-\n";
constexpr std::string_view CANT_OPEN_OUTPUT = "can't open -output.txt-m";
constexpr std::string_view CANT_READ_INPUT = "can't read -input.txt-\n";
constexpr std::string_view CANT_WRITE_OUTPUT = "can't write -output.txt-\n";

constexpr std::string_view FILLER_CELL = " |";
constexpr std::string_view CELL_END = "|";

constexpr std::size_t NOT_FOUND = static_cast<std::size_t>(-1);
constexpr std::size_t LABEL_TEXT_BYTES = ENTRY_LABEL.size() - FIELD_MARKER.size();

// The first field marker at or after `from` in piece[0, end), or NOT_FOUND. Bytes
// are matched at every position, Shift_JIS character boundaries or not: the trail
// byte 0x81 of a double-byte character followed by "z" is a marker too.
std::size_t find_marker(const unsigned char* piece, std::size_t from, std::size_t end) {
    while (from + 1 < end) {
        const void* hit = std::memchr(piece + from, FIELD_MARKER[0], end - 1 - from);
        if (hit == nullptr) return NOT_FOUND;
        const auto at = static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - piece);
        if (piece[at + 1] == FIELD_MARKER[1]) return at;
        from = at + 1;
    }
    return NOT_FOUND;
}

// Whether ENTRY_LABEL lies anywhere in piece[0, end). The label ends in a field
// marker, so only the markers from `first_marker` on need their 12 bytes before
// them checked.
bool holds_entry_label(const unsigned char* piece, std::size_t first_marker, std::size_t end) {
    for (std::size_t at = first_marker; at != NOT_FOUND; at = find_marker(piece, at + 1, end)) {
        if (at >= LABEL_TEXT_BYTES &&
            std::memcmp(piece + at - LABEL_TEXT_BYTES, ENTRY_LABEL.data(), LABEL_TEXT_BYTES) == 0)
            return true;
    }
    return false;
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
    // "\n|" + "00" + "-2147483648" + "|"
    char text[2 + 2 + 11 + 1] = {'\n', '|', '0', '0'};
    const std::size_t zeros = entry_number < 10 ? 2 : entry_number < 100 ? 1 : 0;
    char* const digits = text + 2 + zeros;
    char* const end = std::to_chars(digits, text + sizeof text - 1, entry_number).ptr;
    *end = '|';
    write_bytes(out, std::string_view(text, static_cast<std::size_t>(end + 1 - text)));
}

void scan_piece(const unsigned char* piece, std::size_t length, ConversionState& state, TextWriter& out) {
    // The scan ends at the first NUL, where a NUL-terminated line buffer would end
    // it; a value already begun still runs past NULs to the line feed.
    const void* nul = std::memchr(piece, 0, length);
    const std::size_t scan_end =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - piece) : length;
    std::size_t marker = find_marker(piece, 0, scan_end);
    if (marker == NOT_FOUND) return;

    // A piece holds a line feed only as its last byte; a piece without one (a cut
    // line, or a last line without a line break) has its values end with the piece.
    const std::size_t value_end = piece[length - 1] == '\n' ? length - 1 : length;
    // The label test looks at the whole piece, not at the text before each marker,
    // so it is made once.
    const bool starts_entry = holds_entry_label(piece, marker, scan_end);
    do {
        if (starts_entry) {
            if (state.row_fields < ROW_MIN_FIELDS) write_bytes(out, FILLER_CELL);
            state.row_fields = 0;
            write_row_header(out, state.entry_number);
            state.entry_number = next_entry_number(state.entry_number);
        }
        const std::size_t value = marker + FIELD_MARKER.size();
        write_bytes(out, piece + value, value_end - value);
        write_bytes(out, CELL_END);
        if (state.row_fields < std::numeric_limits<std::int32_t>::max()) ++state.row_fields;
        // The scan goes on inside the value just written: a later marker on the same
        // line starts a further field.
        marker = find_marker(piece, marker + 1, scan_end);
    } while (marker != NOT_FOUND);
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
