// Saved views: camera positions with descriptions, one per line.
//
// Read with the stream's own number extraction and a 256-character line
// buffer, so a description longer than 255 characters ends the reading. The
// file name is kept as written, so a relative name resolves against the
// current directory at each write.
#pragma once

#include <string>
#include <vector>

#include "files/input_file.h"

struct SavedView {
    std::string description;  // at most 255 characters
    float x = 0, y = 0, z = 0;
    float alt = 0, az = 0;
};

struct ViewList {
    std::string fileName;
    std::vector<SavedView> views;
};

// Always gives a list that remembers the name; empty when the file cannot be read.
ViewList readViewFile(const std::string& fileName);
// Rewrites the file; false when it cannot be created or written.
bool writeViewFile(const ViewList& list, OutputPolicy policy = OutputPolicy::AnyFile);
