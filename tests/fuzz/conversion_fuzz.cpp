// Fuzz target for the whole conversion over in-memory streams: no crash, and the
// table is the same whatever the read and write sizes, whatever lies in memory after
// a piece, and as a plain byte-at-a-time conversion writes it; line breaks are CR LF.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "entry_table.h"
#include "memory_streams.h"
#include "plain_reading.h"

namespace {

constexpr std::size_t UNLIMITED = static_cast<std::size_t>(-1);
// Read and write sizes that put block boundaries everywhere, picked by the input.
constexpr std::array<std::size_t, 9> READ_SIZES{1, 2, 7, 64, 499, 500, 4096, 131072, UNLIMITED};
constexpr std::array<std::size_t, 6> WRITE_SIZES{1, 2, 3, 16, 4096, 131072};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "conversion_fuzz: %s\n", what);
    std::abort();
}

std::string convert(std::string_view input, std::size_t read_size, std::size_t write_size) {
    MemorySource source{input, read_size};
    MemorySink sink;
    MemoryStreams streams(source, sink, write_size);
    convert_entries(streams.in, streams.out);
    if (!close_writer(streams.out) || streams.in.failed) fail("a memory stream failed");
    return sink.bytes;
}

// convert_entries with every piece copied into a buffer whose bytes after the piece
// are all `beyond`.
std::string convert_padded(std::string_view input, unsigned char beyond) {
    MemorySource source{input};
    MemorySink sink;
    MemoryStreams streams(source, sink);
    ConversionState state;
    read_int(streams.in, state.entry_number);
    for (auto piece = read_piece(streams.in); !piece.empty(); piece = read_piece(streams.in)) {
        unsigned char buffer[PIECE_BUFFER_SIZE];
        std::memset(buffer, beyond, sizeof buffer);
        std::memcpy(buffer, piece.data(), piece.size());
        scan_piece(buffer, piece.size(), state, streams.out);
    }
    close_writer(streams.out);
    return sink.bytes;
}

// The conversion as plainly as it can be written, apart from the real code: the
// reading rules a byte at a time, a zero-filled 500-byte buffer per line, a scan that
// stops at the buffer's NUL, printf for the row headers.
std::string reference(std::string_view input) {
    const std::string text = plain_text(input);
    const auto at = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : -1; };
    std::size_t pos = 0;
    while (at(pos) == ' ' || (at(pos) >= '\t' && at(pos) <= '\r')) ++pos;
    const bool negative = at(pos) == '-';
    if (at(pos) == '+' || at(pos) == '-') ++pos;
    std::int32_t entry = 1;
    if (at(pos) >= '0' && at(pos) <= '9') {
        std::uint32_t value = 0;
        for (; at(pos) >= '0' && at(pos) <= '9'; ++pos) value = value * 10 + static_cast<std::uint32_t>(at(pos) - '0');
        entry = static_cast<std::int32_t>(negative ? 0 - value : value);
    }
    const std::string label(reinterpret_cast<const char*>(ENTRY_LABEL.data()), ENTRY_LABEL.size());
    std::string table;
    std::int64_t fields = 3;
    for (const std::string& piece : plain_pieces(std::string_view(text).substr(pos))) {
        unsigned char line[PIECE_BUFFER_SIZE] = {};
        std::memcpy(line, piece.data(), piece.size());
        const std::size_t length = piece.size();
        const bool has_label = std::string_view(reinterpret_cast<const char*>(line)).find(label) != std::string::npos;
        for (std::size_t i = 0; line[i] != 0; ++i) {
            if (line[i] != 0x81 || line[i + 1] != 0x7A) continue;
            if (has_label) {
                if (fields < 3) table += " |";
                fields = 0;
                char header[32];
                const char* format = entry < 10 ? "\n|00%d|" : entry < 100 ? "\n|0%d|" : "\n|%d|";
                std::snprintf(header, sizeof header, format, static_cast<int>(entry));
                table += header;
                entry = static_cast<std::int32_t>(static_cast<std::uint32_t>(entry) + 1);
            }
            for (std::size_t j = i + 2; j < length && line[j] != '\n'; ++j) table += static_cast<char>(line[j]);
            table += '|';
            ++fields;
        }
    }
    std::string bytes;
    for (const char c : table) bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return bytes;
}

}  // namespace

// The first two bytes pick the read and write sizes; the rest is input.txt.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t read_size = size > 0 ? READ_SIZES[data[0] % READ_SIZES.size()] : UNLIMITED;
    const std::size_t write_size = size > 1 ? WRITE_SIZES[data[1] % WRITE_SIZES.size()] : 4096;
    const std::size_t skip = size < 2 ? size : 2;
    const std::string_view input(reinterpret_cast<const char*>(data) + skip, size - skip);

    const std::string table = convert(input, UNLIMITED, 131072);
    if (convert(input, read_size, write_size) != table) fail("read or write sizes changed the table");
    if (convert_padded(input, 0x00) != table || convert_padded(input, 0xFF) != table)
        fail("bytes after a piece changed the table");
    if (reference(input) != table) fail("the table differs from the plain conversion");
    for (std::size_t i = 0; i < table.size(); ++i) {
        const bool cr_alone = table[i] == '\r' && (i + 1 == table.size() || table[i + 1] != '\n');
        const bool lf_alone = table[i] == '\n' && (i == 0 || table[i - 1] != '\r');
        if (cr_alone || lf_alone) fail("a line break that is not CR LF");
    }
    return 0;
}
