// The converter's run: command line, input, work directory, the three
// stages, and the closing statistics.
#pragma once

namespace zelk {

// Runs zelkpack with these arguments and returns its exit status (0, or 1
// after printing the error).
int zelkpack_main(int argc, const char* const* argv);

}  // namespace zelk
