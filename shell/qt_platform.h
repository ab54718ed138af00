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
    std::optional<std::string> openFileDialog(const std::string& defaultExtension,
                                              const std::string& filter) override;
    std::optional<std::string> saveFileDialog(const std::string& defaultExtension,
                                              const std::string& filter) override;

    CCellforgeDoc* shellDocument(CellforgeDocument* document) const;

private:
    CMainFrame& frame_;
};
