#include "shell/qt_platform.h"

#include <QDir>
#include <QFileInfo>

#include "shell/cellforge_doc.h"
#include "shell/file_dialogs.h"
#include "shell/main_frame.h"

CCellforgeDoc* QtPlatform::shellDocument(CellforgeDocument* document) const {
    for (CCellforgeDoc* d : frame_.documents())
        if (&d->engine() == document) return d;
    return nullptr;
}

CellforgeDocument* QtPlatform::openDocument(const std::string& path) {
    CCellforgeDoc* doc = frame_.openDocument(QString::fromStdString(path));
    return doc ? &doc->engine() : nullptr;
}

void QtPlatform::closeDocument(CellforgeDocument* document) {
    if (CCellforgeDoc* d = shellDocument(document)) frame_.closeDocument(d);
}

std::vector<std::string> QtPlatform::recentFiles() const {
    std::vector<std::string> out;
    for (const QString& s : frame_.recentFiles().entries()) out.push_back(s.toStdString());
    return out;
}

void QtPlatform::addRecentFile(const std::string& path) { frame_.recentFiles().add(QString::fromStdString(path)); }

void QtPlatform::messageBox(const std::string& text) { CMainFrame::showMessage(QString::fromStdString(text)); }
