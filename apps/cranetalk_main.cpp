// cranetalk: the console program assembler.
//
//   cranetalk [<listing> [<stimulus>]]  < source  > initialiser-list
//
// The source is read from standard input; the array initialiser goes to
// standard output; messages and the program length go to standard error.
#include <csignal>
#include <iostream>

#include "cranetalk/command_line.h"

int main(int argc, char** argv) {
    // cranetalk uses only the C++ streams; unsynchronised streams read the
    // source in blocks.  Standard error stays unbuffered, and every line on
    // every stream is flushed as it ends.
    std::ios::sync_with_stdio(false);
#ifdef SIGPIPE
    // Errors while writing are neither detected nor reported, and
    // every run that gets past the argument check ends with status 0: a
    // reader that closes its pipe early must not kill the program.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    return cranetalk::run(argc, argv, std::cin, std::cout, std::cerr);
}
