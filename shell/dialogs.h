// The program's five modal dialogs and the text rules behind them.
//
// Each dialog is built for one showing. Fields are filled from plain values
// handed in by the caller and read back only after OK has validated every
// field, so Cancel can never leave a half-applied state behind. The one
// effect that survives Cancel is a saved view added with "Add": it is written
// to the saved-views file at once, through SavedViewStore.
//
// Validation follows the framework convention: the first bad field gets a
// message box ("Enter an integer.", "Enter a number." or the range message)
// and keeps the focus, and the dialog stays open.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class Universe;

// ---- text rules, usable without a dialog

struct CameraFields {
    float x = 0, y = 0, z = 5, alt = 0, az = 0;
};

struct SavedViewRecord {
    QString description;
    float x = 0, y = 0, z = 0, alt = 0, az = 0;
};

// "x=%d y=%d z=%d alt=%d az=%d %s", each number truncated towards zero.
QString formatSavedViewLine(const SavedViewRecord& v);

// The texts a selected list line puts into the fields; a key that is not
// found (or has no blank after it) leaves its field unset.
struct SavedViewLineFields {
    std::optional<QString> x, y, z, alt, az, description;
};
SavedViewLineFields parseSavedViewLine(const QString& line);

// Optional sign and digits at the start (after blanks); 0 when there are none.
long long leadingInteger(const QString& text);
// Leading decimal number as the C library's text-to-double reads it; 0 when none.
double leadingNumber(const QString& text);

// Whole-field parses used by validation.
std::optional<int32_t> parseIntegerField(const QString& text);
std::optional<float> parseNumberField(const QString& text);

// ---- the saved-views list as the Settings dialog sees it

class SavedViewStore {
public:
    virtual ~SavedViewStore() = default;
    virtual std::vector<SavedViewRecord> records() const = 0;
    // Appends and writes the list to its file at once.
    virtual void append(const SavedViewRecord& record) = 0;
};

// ---- dialogs

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    // store may be null: the list stays empty and "Add" is disabled.
    SettingsDialog(uint32_t runUntil, const CameraFields& camera, const QString& description,
                   SavedViewStore* store, QWidget* parent = nullptr);

    // Valid after the dialog was accepted.
    uint32_t runUntil() const { return runUntil_; }
    CameraFields camera() const { return camera_; }
    QString description() const { return description_; }

    void accept() override;

    QLineEdit* runUntilEdit() const { return runUntilEdit_; }
    QLineEdit* edit(int controlId) const;  // 1002..1006, 1010
    QListWidget* viewList() const { return list_; }
    QPushButton* addButton() const { return addButton_; }

private:
    void addView();
    void lineSelected(QListWidgetItem* item);

    QLineEdit* runUntilEdit_;
    QLineEdit* xEdit_;
    QLineEdit* yEdit_;
    QLineEdit* zEdit_;
    QLineEdit* altEdit_;
    QLineEdit* azEdit_;
    QLineEdit* descriptionEdit_;
    QListWidget* list_;
    QPushButton* addButton_;
    SavedViewStore* store_;
    std::vector<SavedViewRecord> records_;  // the list's lines, in order
    uint32_t runUntil_;
    CameraFields camera_;
    QString description_;
};

class RegionsDialog : public QDialog {
    Q_OBJECT
public:
    RegionsDialog(Universe& universe, QWidget* parent = nullptr);

    // Writes the ticks back into the region entries (also done by OK).
    void applyTicks();
    void accept() override;

    QTreeWidget* tree() const { return tree_; }
    // Item for a path of components below "root" ("" gives the root itself).
    QTreeWidgetItem* itemForPath(const QString& dottedPath) const;

private:
    void fill();

    Universe& universe_;
    QTreeWidget* tree_;
};

struct FrameOutputFields {
    QString folder;
    QString prefix;
    int32_t interval = 0;
};

class AnimationDialog : public QDialog {
    Q_OBJECT
public:
    explicit AnimationDialog(QWidget* parent = nullptr);
    FrameOutputFields fields() const;
    // Shows a view's present setting (an interval of 0, off, as an empty field).
    void setFields(const FrameOutputFields& fields);

    QLineEdit* folderEdit() const { return folder_; }
    QLineEdit* prefixEdit() const { return prefix_; }
    QLineEdit* intervalEdit() const { return interval_; }

private:
    QLineEdit* folder_;
    QLineEdit* prefix_;
    QLineEdit* interval_;
};

struct MemoryWriteFields {
    int32_t x = 0, y = 0, z = 0;
    QString path;
    int32_t offset = 0;
};

class MemoryDialog : public QDialog {
    Q_OBJECT
public:
    explicit MemoryDialog(QWidget* parent = nullptr);
    MemoryWriteFields fields() const { return fields_; }
    void accept() override;

    QLineEdit* edit(int controlId) const;  // 1018..1022

private:
    QLineEdit* x_;
    QLineEdit* y_;
    QLineEdit* z_;
    QLineEdit* path_;
    QLineEdit* offset_;
    MemoryWriteFields fields_;
};

// Shows the validation message and puts the focus back on the field.
void rejectField(QWidget* dialog, QLineEdit* field, const QString& message);
