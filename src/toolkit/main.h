// The one way every program ends (as libdeflate's programs share
// prog_util): main() hands its work to run_main, which turns whatever ends
// it into a message and an exit status: a Fatal its own; running out of
// memory, a thread that could not be started, any other exception the
// program's words for trouble. Nothing escapes main, so the output's
// clean-up always runs; a run that aborts (SIGABRT) removes its temporary
// output too (toolkit/output.h).
#pragma once

namespace zelk {

struct Ending {
  const char* program;    // messages as "PROGRAM: MESSAGE"; null: the message as it is (zelkpack)
  const char* no_memory;  // what running out of memory says
  int trouble = 1;        // the status of a failure that is no Fatal
};

int run_main(const Ending& ending, int (*run)(int argc, char** argv), int argc, char** argv);

}  // namespace zelk
