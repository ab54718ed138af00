// The table of paths every front end must answer alike (open_table.txt),
// and the fixtures it names, made in a scratch folder.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct OpenCase {
    std::string name, path, fault;
    std::vector<std::pair<std::string, std::string>> files;
};

inline std::string trimmed(const std::string& s) {
    const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

inline std::vector<OpenCase> readOpenTable(const std::string& path) {
    std::vector<OpenCase> cases;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::stringstream ss(line);
        for (std::string c; std::getline(ss, c, '|');) cols.push_back(trimmed(c));
        cols.resize(4);
        OpenCase c{cols[0], cols[1], cols[2], {}};
        std::stringstream fs(cols[3]);
        for (std::string f; std::getline(fs, f, ';');) {
            const size_t eq = f.find('=');
            if (eq != std::string::npos) c.files.emplace_back(trimmed(f.substr(0, eq)), trimmed(f.substr(eq + 1)));
        }
        cases.push_back(c);
    }
    return cases;
}

// Makes the case's files in `folder`; returns the path to open.
inline std::string makeOpenCase(const OpenCase& c, const std::filesystem::path& folder) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const auto& [name, content] : c.files) {
        const std::string p = (folder / name).string();
        if (content == "@dir") {
            std::filesystem::create_directory(p);
        } else if (content == "@fifo") {
            ::mkfifo(p.c_str(), 0600);
        } else {
            std::ofstream out(p, std::ios::binary);
            if (content == "@grid") {
                out << "0 0 0 2 1 1\n1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n";
            } else if (content == "@junk") {
                for (int i = 0; i < 4096; ++i) out.put(char((i * 37 + 11) & 0xFF));
            } else {
                std::string text = content;
                for (char& ch : text)
                    if (ch == ',') ch = '\n';
                out << text;
            }
        }
    }
    return c.path[0] == '/' ? c.path : (folder / c.path).string();
}
