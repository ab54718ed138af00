#include "shell/recent_files.h"

#include <QSettings>

namespace {
constexpr const char* kGroup = "Recent File List";

QSettings openStore() { return QSettings(kSettingsOrganisation, kSettingsApplication); }
}  // namespace

RecentFileList::RecentFileList() { load(); }

void RecentFileList::add(const QString& path) {
    if (path.isEmpty()) return;
    entries_.removeAll(path);
    entries_.prepend(path);
    while (entries_.size() > kSize) entries_.removeLast();
    save();
}

QString RecentFileList::entry(int n) const {
    if (n < 1 || n > entries_.size()) return {};
    return entries_[n - 1];
}

void RecentFileList::load() {
    entries_.clear();
    QSettings s = openStore();
    s.beginGroup(kGroup);
    for (int i = 1; i <= kSize; ++i) {
        QString v = s.value(QStringLiteral("File%1").arg(i)).toString();
        if (!v.isEmpty() && !entries_.contains(v)) entries_.append(v);
    }
}

void RecentFileList::save() const {
    QSettings s = openStore();
    s.beginGroup(kGroup);
    for (int i = 1; i <= kSize; ++i) {
        if (i <= entries_.size())
            s.setValue(QStringLiteral("File%1").arg(i), entries_[i - 1]);
        else
            s.remove(QStringLiteral("File%1").arg(i));
    }
    s.sync();
}
