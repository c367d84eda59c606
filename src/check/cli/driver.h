// quorbix-check's driver: reads, analyses and reports each file the command
// line names; the seam that main stands on.
#pragma once

namespace quorbix {

// Runs the checker with the command line argv[0..argc); returns the exit
// status: 0 when no file has an error, 1 when one has, 2 when a file cannot
// be read or the command line is wrong.
int check_main(int argc, char** argv);

}  // namespace quorbix
