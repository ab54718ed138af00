#include "shell/messages.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>

QString outputProblem(const QString& path) {
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists()) return QStringLiteral("the folder %1 does not exist").arg(QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isDir()) return QStringLiteral("%1 is not a folder").arg(QDir::toNativeSeparators(folder.filePath()));
    if (info.isDir()) return QStringLiteral("it is a folder");
    if (info.exists() && !info.isFile()) return QStringLiteral("it is not a regular file");
    if (info.exists() && !info.isWritable()) return QStringLiteral("permission denied");
    if (!info.exists() && !folder.isWritable())
        return QStringLiteral("permission denied in the folder %1").arg(QDir::toNativeSeparators(folder.filePath()));
    return QString();
}

void showMessageBox(const QString& text) {
    auto show = [text] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Cellforge"), text, QMessageBox::Ok,
                        QApplication::activeWindow());
        box.exec();
    };
    if (QThread::currentThread() == qApp->thread())
        show();
    else
        QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
}
