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

std::optional<std::string> QtPlatform::openFileDialog(const std::string& defaultExtension,
                                                      const std::string& filter) {
    auto p = frame_.fileDialogs().openFile(&frame_, QString::fromStdString(defaultExtension),
                                           QString::fromStdString(filter));
    if (!p) return std::nullopt;
    // The common open dialog leaves the chosen folder as the current
    // directory; projects name their files relative to it.
    QDir::setCurrent(QFileInfo(*p).absolutePath());
    return p->toStdString();
}

std::optional<std::string> QtPlatform::saveFileDialog(const std::string& defaultExtension,
                                                      const std::string& filter) {
    auto p = frame_.fileDialogs().saveFile(&frame_, QString::fromStdString(defaultExtension),
                                           QString::fromStdString(filter));
    if (!p) return std::nullopt;
    return p->toStdString();
}
