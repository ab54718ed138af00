// The four-entry recent-file list and its persistence.
//
// The list lives in the per-user settings store under the organisation
// "Local AppWizard-Generated Applications" and the application "Cellforge",
// group "Recent File List", keys File1..File4, so it survives restarts.
// Every change is written back at once: the program can be killed at any
// time and the list must not depend on an orderly exit.
#pragma once

#include <QString>
#include <QStringList>

class RecentFileList {
public:
    static constexpr int kSize = 4;

    RecentFileList();

    // Puts the path on top; an equal entry further down is removed first so a
    // path is never listed twice, and the fifth entry falls off.
    void add(const QString& path);
    // Entry n counted from 1; empty when there is none.
    QString entry(int n) const;
    const QStringList& entries() const { return entries_; }
    int size() const { return int(entries_.size()); }

    void load();
    void save() const;

private:
    QStringList entries_;
};

// Settings identity shared by everything that reads or writes the store.
inline constexpr const char* kSettingsOrganisation = "Local AppWizard-Generated Applications";
inline constexpr const char* kSettingsApplication = "Cellforge";
