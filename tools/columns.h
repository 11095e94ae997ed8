// Text for a terminal: how many columns a UTF-8 text takes, East Asian wide characters counting two; counts
// with their nouns.
#pragma once
#include <cstddef>
#include <string>

// Columns of `utf8` on a terminal: 2 for East Asian wide and fullwidth characters, 0 for combining marks,
// 1 for every other character (and for each byte that is not UTF-8).
size_t DisplayWidth(const std::string& utf8);
// `utf8` followed by spaces up to `columns` columns; unchanged when it is as wide already.
std::string PadToWidth(const std::string& utf8, size_t columns);
// "1 entry", "2 entries": `n` with `one` or `many`.
std::string Counted(size_t n, const char* one, const char* many);
