#include "shell/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

QString qtFilterFromFrameworkFilter(const QString& filter) {
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        QString description = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        // The description usually repeats the pattern already; add it only if not.
        if (description.contains(QLatin1Char('(')))
            out << description;
        else
            out << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    if (out.isEmpty()) out << QStringLiteral("All Files (*)");
    return out.join(QStringLiteral(";;"));
}

QString withDefaultExtension(const QString& path, const QString& defaultExtension) {
    if (defaultExtension.isEmpty() || path.isEmpty()) return path;
    if (!QFileInfo(path).suffix().isEmpty()) return path;
    return path + QLatin1Char('.') + defaultExtension;
}

std::optional<QString> QtFileDialogs::openFile(QWidget* parent, const QString& defaultExtension,
                                               const QString& filter) {
    QFileDialog dialog(parent, QStringLiteral("Open"), QString(), qtFilterFromFrameworkFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(defaultExtension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> QtFileDialogs::saveFile(QWidget* parent, const QString& defaultExtension,
                                               const QString& filter) {
    QFileDialog dialog(parent, QStringLiteral("Save As"), QString(), qtFilterFromFrameworkFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultExtension);
    // The dialog itself asks before overwriting (QFileDialog's default).
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}
