// The reading rules done the plain way, a byte at a time: the oracle that tests and
// the fuzz target hold the block-wise reader to.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "textio/text_reader.h"

// The text as the rules deliver it: every CR dropped, nothing from the first 0x1A on.
inline std::string plain_text(std::string_view raw) {
    std::string text;
    for (const char c : raw) {
        if (c == '\x1A') break;
        if (c != '\r') text += c;
    }
    return text;
}

// The text cut into line pieces: after each line feed, and after PIECE_MAX_BYTES.
inline std::vector<std::string> plain_pieces(std::string_view text) {
    std::vector<std::string> pieces;
    std::string piece;
    for (const char c : text) {
        piece += c;
        if (c == '\n' || piece.size() == PIECE_MAX_BYTES) pieces.push_back(std::move(piece)), piece.clear();
    }
    if (!piece.empty()) pieces.push_back(piece);
    return pieces;
}
