// The Shift_JIS bytes that listings are made of, spelled out here rather than taken
// from the code's constants, so that a wrong constant there shows in the tests.
#pragma once

#include <string>

inline const std::string O = "\x81\x79";                                              // 【
inline const std::string M = "\x81\x7A";                                              // 】, the field marker
inline const std::string L = "\x83\x47\x83\x93\x83\x67\x83\x8A\x81\x5B\x96\xBC" + M;  // エントリー名】
