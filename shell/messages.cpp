#include "shell/messages.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

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
