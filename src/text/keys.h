// Comparing keys as dictionary readers do: without case, and by how many
// characters two keys differ.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/utf8.h"

namespace zelk {

// The key folded for comparing without case: ASCII letters always, and where
// the key is valid UTF-8 every character by Unicode simple case folding.
std::string fold_case(std::string_view key);

// The characters that fold to the same as c (c among them), in UTF-8.
std::vector<std::string> case_variants(char32_t c);

// The edit distance (insertions, deletions, substitutions) between a and b,
// counted in characters where both are valid UTF-8, else in bytes; any
// distance above limit is returned as limit + 1.
size_t edit_distance(std::string_view a, std::string_view b, size_t limit);

}  // namespace zelk
