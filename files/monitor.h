// Monitor: records, per generation, the signals of groups of terminals into
// a text file, one flushed line per firing group.
//
// Groups point at terminals of the table the monitor was read with (not
// owned); that table must outlive the monitor. sampleMonitor runs on the
// worker thread; the monitor is otherwise touched only while it is paused.
#pragma once

#include <fstream>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "files/input_file.h"

class Universe;
struct Terminal;
struct TerminalTable;

struct MonitorGroup {
    std::string name;
    std::vector<Terminal*> triggers;
    std::vector<Terminal*> values;
};

struct Monitor {
    std::ofstream output;  // not open when the file could not be created
    std::vector<MonitorGroup> groups;
    std::string outputName;  // as the monitor file writes it (checkpoints compare this)
    std::string outputPath;  // where it is opened: outputName resolved against the folder
    // Read with the output held back: nothing is created or truncated until
    // startMonitorOutput, so a load that is refused afterwards (a checkpoint
    // that does not fit) leaves the file as it was.
    bool outputHeld = false;
    OutputPolicy policy = OutputPolicy::AnyFile;
};

// Without a table the monitor is empty and no file is created. Never returns
// null. A group not closed by "end"/"END" before the input ends is kept.
// An output the policy refuses is left closed, like one that cannot be made.
// A relative output name means a file in `folder` (the project's; "" for the
// current folder).
std::unique_ptr<Monitor> readMonitorFile(std::istream& in, const TerminalTable* terminals,
                                         OutputPolicy policy = OutputPolicy::AnyFile,
                                         const std::string& folder = "", bool holdOutput = false);

// Opens (creates or truncates) a held output; nothing when none is held.
void startMonitorOutput(Monitor& monitor);

// Writes the line of every group with a true trigger; nothing without a universe.
void sampleMonitor(Monitor& monitor, const Universe* universe);
