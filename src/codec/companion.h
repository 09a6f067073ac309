// Recognising the zelkpress of this very build: its file carries a tag that
// names the sources and the compression library that decide its bytes. The
// tag is in the program's data, so it survives installing and stripping.
#pragma once

#include <string>

namespace zelk {

// The tag as it stands in the companion's file. (zelkpack builds it at run
// time and does not carry it, so a copy of zelkpack is never taken for the
// companion.)
std::string companion_tag();

// True when path is a regular file (links followed, as the shell would) that
// this process may execute and that carries the tag. Anything doubtful (too
// large, unreadable, on a file system mounted noexec) is not the companion.
bool is_companion(const char* path);

}  // namespace zelk
