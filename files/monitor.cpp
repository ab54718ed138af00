#include "files/monitor.h"

#include "files/project.h"
#include "files/terminals.h"
#include "files/text_scanner.h"
#include "universe/universe.h"

std::unique_ptr<Monitor> readMonitorFile(std::istream& in, const TerminalTable* terminals, OutputPolicy policy,
                                         const std::string& folder, bool holdOutput) {
    auto monitor = std::make_unique<Monitor>();
    if (!terminals) return monitor;
    TextScanner s(in);
    std::string w;
    s.readWord(monitor->outputName);
    monitor->outputPath = resolveInFolder(folder, monitor->outputName);
    monitor->policy = policy;
    monitor->outputHeld = true;
    if (!holdOutput) startMonitorOutput(*monitor);
    while (s.readWord(w)) {
        monitor->groups.push_back(MonitorGroup{w, {}, {}});
        MonitorGroup& g = monitor->groups.back();
        bool values = false;
        while (s.readWord(w)) {
            if (w == "end" || w == "END") break;
            if (w == ":") {
                values = true;
            } else if (Terminal* t = findTerminal(terminals, w)) {
                (values ? g.values : g.triggers).push_back(t);
            }
        }
    }
    return monitor;
}

namespace {
bool shows(const Universe& u, const Terminal* t) {
    return terminalInUniverseRange(*t) && u.testOutput(t->x, t->y, t->z, t->direction);
}
}  // namespace

void sampleMonitor(Monitor& monitor, const Universe* universe) {
    if (!universe) return;
    std::string line;
    for (const MonitorGroup& g : monitor.groups) {
        bool fired = false;
        for (const Terminal* t : g.triggers)
            if (shows(*universe, t)) {
                fired = true;
                break;
            }
        if (!fired) continue;
        line = g.name;
        line += ' ';
        for (const Terminal* t : g.triggers) line += shows(*universe, t) ? '1' : '0';
        line += ' ';
        for (const Terminal* t : g.values) line += shows(*universe, t) ? '1' : '0';
        line += '\n';
        if (monitor.output.is_open()) monitor.output << line << std::flush;
    }
}

void startMonitorOutput(Monitor& monitor) {
    if (!monitor.outputHeld) return;
    monitor.outputHeld = false;
    // An empty name opens nothing: the stream stays closed and drops every line.
    if (!monitor.outputName.empty() && outputAllowed(monitor.outputPath, monitor.policy))
        monitor.output.open(monitor.outputPath, std::ios::out | std::ios::trunc);
}
