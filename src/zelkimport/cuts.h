// Where a definition too long for one entry line may be cut: never inside a
// {reference} (unless it is longer than a line) nor inside a grapheme
// cluster (a letter and its combining marks); at the end of a sentence near
// the end of the room, else at a blank there, else at the last place that is
// neither. The places are found once for the whole definition, so that
// laying it out at another chunk budget walks these places, not its text.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace zelk::import {

struct Cuts {
  std::vector<uint32_t> sentences;  // blanks after the end of a sentence (. ! ?)
  std::vector<uint32_t> blanks;     // every blank that may be cut at
  std::vector<uint32_t> glued;      // characters that go with the one before (no cut before)
  std::vector<std::pair<uint32_t, uint32_t>> references;  // a '{' and the '}' that closes it
};

// The places of value (UTF-8; at most 4 GiB).
Cuts find_cuts(std::string_view value);

// Where the piece of value from start is best cut, given that its first n
// bytes fit (the bytes from start on are more than n): the piece's length,
// 0 when there is no place at all.
size_t cut_at(const Cuts& cuts, std::string_view value, size_t start, size_t n);

// The next piece's start after a piece of length cut from start: the blank
// cut at is no part of either.
inline size_t after_cut(std::string_view value, size_t start, size_t cut) {
  return value[start + cut] == ' ' ? start + cut + 1 : start + cut;
}

}  // namespace zelk::import
