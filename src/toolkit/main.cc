#include "toolkit/main.h"

#include <cstdio>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "toolkit/error.h"
#include "toolkit/file.h"

namespace zelk {

namespace {

int say(const Ending& ending, const Fatal& fatal) {
  show_progress(stderr, "");  // a progress line shown is cleared first
  return exit_status(fatal, ending.program, stderr);
}

// A failure that is no Fatal, in the program's words: zelkpack, which has
// no words for it, says that it ran out of memory.
int trouble(const Ending& ending, const std::string& what) {
  if (!ending.program) return say(ending, Fatal{ending.no_memory, ending.trouble});
  return say(ending, Fatal{what, ending.trouble});
}

}  // namespace

int run_main(const Ending& ending, int (*run)(int, char**), int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const Fatal& fatal) {
    return say(ending, fatal);
  } catch (const std::bad_alloc&) {
    return say(ending, Fatal{ending.no_memory, ending.trouble});
  } catch (const std::length_error&) {
    return say(ending, Fatal{ending.no_memory, ending.trouble});
  } catch (const std::system_error& e) {
    return trouble(ending, std::string("cannot go on: ") + e.what());
  } catch (const std::exception& e) {
    return trouble(ending, std::string("unexpected failure: ") + e.what());
  } catch (...) {
    return trouble(ending, "unexpected failure");
  }
}

}  // namespace zelk
