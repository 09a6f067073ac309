// The files of data/inflections/, built in as text (cmake/embed.cmake
// writes them at build time).
#pragma once

namespace zelk {

extern const char kInflectionsDe[];
extern const char kInflectionsEn[];
extern const char kInflectionsEs[];
extern const char kInflectionsFr[];
extern const char kInflectionsIt[];

}  // namespace zelk
