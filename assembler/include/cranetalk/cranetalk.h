// cranetalk: the program assembler of Cellforge.
//
// Umbrella header and design note.
//
// ---------------------------------------------------------------------------
// Design note
// ---------------------------------------------------------------------------
//
// Files (all in namespace cranetalk, standard library only, no code shared
// with the simulator):
//
//   tokenizer.h     readToken (explicit whitespace set, no comments,
//                   no length limit) and the "ORG" operand, which is the
//                   stream's own unsigned extraction
//                   (std::istream >> unsigned int, classic locale).
//   encoding.h      instruction codes and listing names, the orientation
//                   table and the derived orientation codes, call operand
//                   encoding and decoding.
//   assembler.h     assembleSource: the single pass, the location counter,
//                   program length, label table and pending-reference
//                   table, and the program image.
//   listing.h       writeListing / listInstruction.
//   stimulus.h      writeStimulus (192 looping blocks).
//   array_output.h  printImage (the initialiser list).
//   command_line.h  run(): argument check, order of the steps, exit
//                   status.  apps/cranetalk_main.cpp only calls run() with
//                   the three standard streams.
//
// Streams. Every function takes the streams it uses as parameters, so tests
// drive the library with string streams and the program with std::cin,
// std::cout and std::cerr.  Each line is composed first and then written
// with one write() and one flush(), so a line never interleaves with the
// other stream and output ordering is the same whether standard output and
// standard error go to one file or two.
//
// Decisions:
//  * The image holds 8192 bytes.  Every attempt to write a byte at an address
//    of 8192 or more writes nothing and reports
//    "Address N is outside the 8192-byte program image".  All addresses
//    (location counter, call positions, "position plus 1", the alignment of a
//    label) are unsigned 32-bit values and wrap modulo 2^32.
//  * The program length is min(8192, highest location counter seen).
//  * A "CALL", "ORIENT" or "O" whose operand cannot be read (end of input) is
//    dropped: nothing emitted, counter unchanged; the missing-END lines name
//    the keyword.
//  * "ORG": std::istream >> unsigned int.  So "+5" is 5, "-5" is 4294967291
//    (the stream's own rule), "64X" is 64 with "X" the next token; a failed
//    extraction (no digits, or a value above 4294967295) leaves the counter
//    unchanged and ends the loop.
//  * Listing bytes with no listing name (11, 15, 17-23, 25-27, 29-31) are
//    written as "DB <value>".  (The assembler never writes such bytes itself;
//    the case is defensive.)
//
// Speed.  The patching rule ("every definition writes the call operand
// at every position of the list; the list stays") is quadratic when a label
// with many pending calls is defined many times.  The assembler keeps its
// result identical but lazy: the pending list of a name is frozen at its first
// definition (later calls find the label and never add to it), so at that
// moment the bytes it covers are computed once (for each byte, the half of the
// operand that the last list entry touching it writes).  Each definition then
// only records (time, address) and writes the messages of its out-of-image
// attempts; every direct write records its time.  At the end each byte takes
// the latest of its direct write and the last definitions of the names that
// cover it.  Nothing reads the image during assembly, so this is exactly the
// eager result.  The tests check it against a naive eager model.
//
// Input of any size: tokens have no length limit and are gathered in chunks;
// a line that carries a huge token is written in pieces instead of being
// copied.  Memory stays linear in the input (the pending-reference table keeps
// one 32-bit position per unresolved call).
//
// Listing and stimulus files are opened with std::ofstream (created or
// truncated); one that does not open is skipped silently.
//
// The program (apps/cranetalk_main.cpp) ignores SIGPIPE: write errors are
// neither detected nor reported, and every run past the argument check ends
// with status 0, also when a reader closes standard output early.

#pragma once

#include "cranetalk/array_output.h"
#include "cranetalk/assembler.h"
#include "cranetalk/command_line.h"
#include "cranetalk/encoding.h"
#include "cranetalk/listing.h"
#include "cranetalk/stimulus.h"
#include "cranetalk/tokenizer.h"
