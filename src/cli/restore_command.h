#pragma once

#include "cli_options.h"

#include <csignal>
#include <ostream>

namespace tagsnip::cli {

// tagsnip-cli --restore: rows for the files put back on out, the others on err. Returns the exit
// status: 0 when every record is back as before the run, 1 when one is not, 2 when the run
// folder cannot be read, 128+N when signal N (held in interrupt, when given) stopped it.
int restoreCommand(const RestoreRequest& request, std::ostream& out, std::ostream& err,
                   const volatile std::sig_atomic_t* interrupt = nullptr);

}  // namespace tagsnip::cli
