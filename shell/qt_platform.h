// The windowing operations the project loader needs, done with Qt and the
// main frame.
#pragma once

#include "files/platform.h"

class CMainFrame;
class CCellforgeDoc;

class QtPlatform : public Platform {
public:
    explicit QtPlatform(CMainFrame& frame) : frame_(frame) { outputPolicy = OutputPolicy::RegularOnly; }

    CellforgeDocument* openDocument(const std::string& path) override;
    void closeDocument(CellforgeDocument* document) override;
    std::vector<std::string> recentFiles() const override;
    void addRecentFile(const std::string& path) override;
    void messageBox(const std::string& text) override;

    CCellforgeDoc* shellDocument(CellforgeDocument* document) const;

private:
    CMainFrame& frame_;
};
