// The page zelkdump serve shows, its script and its style, built into the
// program: nothing to install, nothing fetched from elsewhere.
#pragma once

namespace zelk {

extern const char kPageHtml[];
extern const char kPageScript[];
extern const char kPageStyle[];
extern const char kPageIcon[];  // SVG, served as /favicon.ico

}  // namespace zelk
