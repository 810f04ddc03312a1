#pragma once
// `kelvora fit [options] CURVE...`: one analysis without a dialogue, its
// settings named on the command line, for scripts and batches.

namespace kelvora {

// Runs the command whose arguments follow the word "fit" (argv[0] is "fit").
// Returns the exit status: 0 done, 1 a fit that did not converge, 2 bad
// usage or input (one line on standard error says why), or 128 + the signal
// of an interruption.
int run_fit_command(int argc, const char* const* argv);

}  // namespace kelvora
