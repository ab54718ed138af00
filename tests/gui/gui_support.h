// Helpers shared by the desktop tests: an isolated settings store, scripted
// file dialogs, answering modal windows, and small grid files.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/file_dialogs.h"

// Points every settings store at a private folder before anything reads it,
// so tests never touch the user's real recent-file list.
inline void isolateSettings(const QString& folder) {
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

class ScriptedDialogs : public FileDialogs {
public:
    std::deque<QString> answers;  // an empty answer (or none left) is a cancel
    std::vector<QString> asked;  // "open|ext|filter" or "save|ext|filter"

    std::optional<QString> openFile(QWidget*, const QString& ext, const QString& filter) override {
        asked.push_back(QStringLiteral("open|%1|%2").arg(ext, filter));
        return next();
    }
    std::optional<QString> saveFile(QWidget*, const QString& ext, const QString& filter) override {
        asked.push_back(QStringLiteral("save|%1|%2").arg(ext, filter));
        return next();
    }

private:
    std::optional<QString> next() {
        if (answers.empty()) return std::nullopt;
        QString a = answers.front();
        answers.pop_front();
        if (a.isEmpty()) return std::nullopt;
        return a;
    }
};

// Runs `act` on the next modal window of type T that appears (polling the
// event loop), so a test can fill in and close a dialog that a command opens.
template <class T>
void whenModal(std::function<void(T*)> act, int limitMs = 10000) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act, limitMs] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            act(w);
            // A failed check inside act returns early; never leave the
            // dialog's event loop running or the test would hang.
            if (w->isVisible()) w->reject();
        } else if (clock->elapsed() > limitMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
        }
    });
    timer->start(10);
}

// Records the text of every message box that shows up and presses OK.
class MessageCatcher {
public:
    MessageCatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.push_back(box->text());
                box->accept();
            }
        });
        timer_.start(5);
    }
    std::vector<QString> texts;

private:
    QTimer timer_;
};

struct GridCell {
    int x, y, z, type, front = 0, side = 1;
    int outputs = 0, bonds = 0;
};

// One 1x1x1 box per cell; regions wrap the cells given for them.
inline std::string gridText(const std::vector<GridCell>& cells) {
    std::string s;
    for (const GridCell& c : cells) {
        s += std::to_string(c.x) + " " + std::to_string(c.y) + " " + std::to_string(c.z) + " 1 1 1 ";
        s += std::to_string(c.type) + " " + std::to_string(c.front) + " " + std::to_string(c.side);
        for (int d = 0; d < 6; ++d) s += (c.outputs >> d & 1) ? " 1" : " 0";
        for (int d = 0; d < 6; ++d) s += (c.bonds >> d & 1) ? " 1" : " 0";
        s += "\n";
    }
    return s;
}

inline void writeText(const QString& path, const std::string& text) {
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string readText(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A small machine that fills the middle of a view looking at it: a row of
// conductors facing +y and a NOR gate with an output.
inline std::vector<GridCell> demoCells() {
    std::vector<GridCell> cells;
    for (int x = 0; x < 6; ++x) cells.push_back({x, 0, 0, 1, 0, 1});
    cells.push_back({0, 1, 0, 2, 0, 1, 0b10, 0});
    cells.push_back({5, 1, 0, 5, 0, 1});
    return cells;
}
