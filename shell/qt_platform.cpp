#include "shell/qt_platform.h"

#include "shell/cellforge_doc.h"
#include "shell/document_manager.h"
#include "shell/messages.h"
#include "shell/recent_files.h"

CellforgeDocument* QtPlatform::openDocument(const std::string& path) {
    // The grid a project names is not what the user opened: only the
    // project goes on the recent-file list.
    CCellforgeDoc* doc = documents_.openDocument(QString::fromStdString(path), false);
    return doc ? &doc->engine() : nullptr;
}

void QtPlatform::closeDocument(CellforgeDocument* document) {
    if (CCellforgeDoc* d = documents_.find(document)) documents_.closeDocument(d);
}

std::vector<std::string> QtPlatform::recentFiles() const {
    std::vector<std::string> out;
    for (const QString& s : documents_.recentFiles().entries()) out.push_back(s.toStdString());
    return out;
}

void QtPlatform::addRecentFile(const std::string& path) {
    documents_.recentFiles().add(QString::fromStdString(path));
}

void QtPlatform::messageBox(const std::string& text) { showMessageBox(QString::fromStdString(text)); }
