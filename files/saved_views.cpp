#include "files/saved_views.h"

#include <fstream>

#include "files/input_file.h"

ViewList readViewFile(const std::string& fileName) {
    ViewList list;
    list.fileName = fileName;
    InputFile in(fileName);
    if (!in.isOpen()) return list;
    char buf[256];
    while (!in.fail()) {
        SavedView v;
        in >> v.x >> v.y >> v.z >> v.alt >> v.az;
        // A longer description fails the stream: the record is dropped and reading ends.
        in.getline(buf, sizeof buf);
        if (in.fail()) break;
        const char* p = buf;
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
        v.description = p;
        list.views.push_back(std::move(v));
    }
    return list;
}

bool writeViewFile(const ViewList& list, OutputPolicy policy) {
    if (!outputAllowed(list.fileName, policy)) return false;
    std::ofstream out(list.fileName, std::ios::out | std::ios::trunc);
    if (!out) return false;
    for (const SavedView& v : list.views)
        out << v.x << ' ' << v.y << ' ' << v.z << ' ' << v.alt << ' ' << v.az << ' ' << v.description << '\n'
            << std::flush;
    return bool(out);
}
