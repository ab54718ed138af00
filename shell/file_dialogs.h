// The common file dialogs, behind an interface.
//
// Commands ask for paths through FileDialogs so the same command code runs
// under a test that answers the dialogs itself. Filters are given in the
// framework form "Description (*.ext)|*.ext||" and converted for Qt here.
#pragma once

#include <QString>
#include <optional>

class QWidget;

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen path, or nothing on cancel.
    virtual std::optional<QString> openFile(QWidget* parent, const QString& defaultExtension,
                                            const QString& filter) = 0;
    // Overwriting an existing file has been confirmed when a path is returned.
    virtual std::optional<QString> saveFile(QWidget* parent, const QString& defaultExtension,
                                            const QString& filter) = 0;
};

class QtFileDialogs : public FileDialogs {
public:
    std::optional<QString> openFile(QWidget* parent, const QString& defaultExtension, const QString& filter) override;
    std::optional<QString> saveFile(QWidget* parent, const QString& defaultExtension, const QString& filter) override;
};

// "A (*.a)|*.a|B (*.b)|*.b||" -> "A (*.a);;B (*.b)"; an empty filter gives
// "All Files (*)".
QString qtFilterFromFrameworkFilter(const QString& filter);
// Appends ".ext" when the file name has no extension of its own.
QString withDefaultExtension(const QString& path, const QString& defaultExtension);
