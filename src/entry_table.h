// The entry-table conversion: a listing of labelled values in, one table row per
// entry out, `|001|value|value|value|`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "textio/text_reader.h"
#include "textio/text_writer.h"

// Shift_JIS "】" (closing lenticular bracket): every occurrence starts a field.
inline constexpr std::array<unsigned char, 2> FIELD_MARKER{0x81, 0x7A};

// Shift_JIS "エントリー名】" (entry name, with its bracket): a line holding it starts a
// new row. Its last two bytes are FIELD_MARKER.
inline constexpr std::array<unsigned char, 14> ENTRY_LABEL{0x83, 0x47, 0x83, 0x93, 0x83, 0x67, 0x83,
                                                           0x8A, 0x81, 0x5B, 0x96, 0xBC, 0x81, 0x7A};

// A row ending with fewer fields than this gets one filler cell.
inline constexpr std::int32_t ROW_MIN_FIELDS = 3;

struct ConversionState {
    std::int32_t entry_number = 1;  // printed in the next row header
    // Fields since the last row header. Starting at the minimum means no filler
    // cell before the first header.
    std::int32_t row_fields = ROW_MIN_FIELDS;
};

// Converts input.txt in the current directory into output.txt beside it; returns the
// exit status: 0 after a full run, 1 after a message on standard output.
int run_conversion();

// Reads the starting number and converts every piece of `in` into `out`, stopping
// early at a read or write failure, which the streams' `failed` flags then tell.
void convert_entries(TextReader& in, TextWriter& out);

// Writes the row headers, values, cell ends and filler cells of one line piece, as
// read_piece gives it: at most PIECE_MAX_BYTES, a line feed only as its last byte.
void scan_piece(const unsigned char* piece, std::size_t length, ConversionState& state, TextWriter& out);

// Writes a line feed and the cell `|NNN|` for `entry_number`, zero-padded to three
// characters when it is below 100.
void write_row_header(TextWriter& out, std::int32_t entry_number);
