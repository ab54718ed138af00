// The windowing operations the project loader needs, done with Qt and the
// document manager.
#pragma once

#include "files/platform.h"

class DocumentManager;
class CCellforgeDoc;

class QtPlatform : public Platform {
public:
    explicit QtPlatform(DocumentManager& documents) : documents_(documents) { outputPolicy = OutputPolicy::RegularOnly; }

    CellforgeDocument* openDocument(const std::string& path) override;
    void closeDocument(CellforgeDocument* document) override;
    std::vector<std::string> recentFiles() const override;
    void addRecentFile(const std::string& path) override;
    void messageBox(const std::string& text) override;

private:
    DocumentManager& documents_;
};
