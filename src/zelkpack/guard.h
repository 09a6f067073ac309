// Refusing an output path that would destroy the input or the work files,
// before anything is written or created.
#pragma once

#include <cstdio>
#include <string>

namespace zelk {

// Throws Fatal when output names the open input file (same file, however
// spelled) or a file directly in the work directory ("out/...", or any path
// to the same directory).
void check_output_path(const std::string& output, std::FILE* input);

}  // namespace zelk
