#include "shell/dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

#include "session/session.h"
#include "universe/universe.h"

namespace {

// Float to int truncation that cannot overflow: out-of-range values are
// clamped instead of being undefined behaviour.
int truncated(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0f) return std::numeric_limits<int>::max();
    if (v <= -2147483648.0f) return std::numeric_limits<int>::min();
    return int(v);
}

QString floatText(float v) { return QString::number(double(v), 'g', 6); }

QLineEdit* numbersOnly(QLineEdit* e) {
    // Only blocks typing; pasted or programmatic text is still validated on OK.
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), e));
    return e;
}

QLineEdit* namedEdit(int id, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::number(id));
    return e;
}

QDialogButtonBox* okCancel(QDialog* d) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
    box->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    box->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("2"));
    QObject::connect(box, &QDialogButtonBox::accepted, d, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
    return box;
}

}  // namespace

QString formatSavedViewLine(const SavedViewRecord& v) {
    return QStringLiteral("x=%1 y=%2 z=%3 alt=%4 az=%5 %6")
        .arg(truncated(v.x))
        .arg(truncated(v.y))
        .arg(truncated(v.z))
        .arg(truncated(v.alt))
        .arg(truncated(v.az))
        .arg(v.description);
}

SavedViewLineFields parseSavedViewLine(const QString& line) {
    SavedViewLineFields f;
    std::optional<QString>* targets[5] = {&f.x, &f.y, &f.z, &f.alt, &f.az};
    const char* keys[5] = {"x=", "y=", "z=", "alt=", "az="};
    for (int i = 0; i < 5; ++i) {
        const QString key = QLatin1String(keys[i]);
        qsizetype at = line.indexOf(key);
        if (at < 0) continue;
        qsizetype start = at + key.size();
        qsizetype blank = line.indexOf(QLatin1Char(' '), start);
        if (blank < 0) continue;
        *targets[i] = line.mid(start, blank - start);
        if (i == 4) f.description = line.mid(blank + 1);
    }
    return f;
}

long long leadingInteger(const QString& text) {
    QByteArray s = text.toLatin1();
    const char* p = s.constData();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (v > (std::numeric_limits<long long>::max() - 9) / 10) break;  // saturate rather than overflow
        v = v * 10 + (*p - '0');
    }
    return negative ? -v : v;
}

double leadingNumber(const QString& text) {
    QByteArray s = text.toLatin1();
    const char* p = s.constData();
    const char* end = p + s.size();
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v')) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p < end && *p == '-') return 0;  // "+-1" is not a number
    double v = 0;
    auto r = std::from_chars(p, end, v, std::chars_format::general);
    if (r.ec != std::errc()) return 0;
    return negative ? -v : v;
}

std::optional<int32_t> parseIntegerField(const QString& text) {
    bool ok = false;
    long long v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return int32_t(v);
}

std::optional<float> parseNumberField(const QString& text) {
    bool ok = false;
    double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > FLT_MAX) return std::nullopt;
    return float(v);
}

void rejectField(QWidget* dialog, QLineEdit* field, const QString& message) {
    QMessageBox::warning(dialog, QStringLiteral("Cellforge"), message, QMessageBox::Ok);
    field->setFocus();
    field->selectAll();
}

// ---------------------------------------------------------------- About

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Cellforge"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap((parent ? parent->windowIcon() : windowIcon()).pixmap(32, 32));
    top->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->addWidget(new QLabel(QStringLiteral("Cellforge Version 0.8"), this));
    texts->addWidget(new QLabel(QStringLiteral("A workbench for machines built from parts in a 3D cellular universe"), this));
    top->addLayout(texts, 1);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    top->addWidget(ok, 0, Qt::AlignTop);
    layout->addLayout(top);
    auto* group = new QGroupBox(QStringLiteral("Getting started"), this);
    auto* gl = new QVBoxLayout(group);
    auto* help = new QLabel(QStringLiteral(
                                "Open a project file, then use keys O,P,Q,A,Space and B to navigate.\n\n"
                                "If there is no structure in view, click View > Centre of Mass to jump to a view "
                                "of the centre of mass of the universe."),
                            group);
    help->setWordWrap(true);
    gl->addWidget(help);
    layout->addWidget(group);
}

// ---------------------------------------------------------------- Settings

SettingsDialog::SettingsDialog(uint32_t runUntil, const CameraFields& camera, const QString& description,
                               SavedViewStore* store, QWidget* parent)
    : QDialog(parent), store_(store), runUntil_(runUntil), camera_(camera), description_(description) {
    setWindowTitle(QStringLiteral("Settings"));
    auto* layout = new QVBoxLayout(this);

    auto* runRow = new QHBoxLayout;
    runRow->addWidget(new QLabel(QStringLiteral("Run until"), this));
    runUntilEdit_ = numbersOnly(namedEdit(1000, this));
    runRow->addWidget(runUntilEdit_);
    runRow->addWidget(new QLabel(QStringLiteral("iterations"), this));
    layout->addLayout(runRow);

    auto* cam = new QGridLayout;
    xEdit_ = namedEdit(1002, this);
    yEdit_ = namedEdit(1003, this);
    zEdit_ = namedEdit(1004, this);
    altEdit_ = namedEdit(1005, this);
    azEdit_ = namedEdit(1006, this);
    const char* labels[5] = {"x=", "y=", "z=", "alt=", "az="};
    QLineEdit* edits[5] = {xEdit_, yEdit_, zEdit_, altEdit_, azEdit_};
    for (int i = 0; i < 5; ++i) {
        cam->addWidget(new QLabel(QLatin1String(labels[i]), this), i / 3, (i % 3) * 2);
        cam->addWidget(edits[i], i / 3, (i % 3) * 2 + 1);
    }
    layout->addLayout(cam);

    auto* descRow = new QHBoxLayout;
    descRow->addWidget(new QLabel(QStringLiteral("Description"), this));
    descriptionEdit_ = namedEdit(1010, this);
    descRow->addWidget(descriptionEdit_);
    addButton_ = new QPushButton(QStringLiteral("Add"), this);
    addButton_->setObjectName(QStringLiteral("1009"));
    addButton_->setAutoDefault(false);
    descRow->addWidget(addButton_);
    layout->addLayout(descRow);

    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("1007"));
    layout->addWidget(list_, 1);
    layout->addWidget(okCancel(this));

    runUntilEdit_->setText(QString::number(runUntil));
    xEdit_->setText(floatText(camera.x));
    yEdit_->setText(floatText(camera.y));
    zEdit_->setText(floatText(camera.z));
    altEdit_->setText(floatText(camera.alt));
    azEdit_->setText(floatText(camera.az));
    descriptionEdit_->setText(description);

    if (store_) {
        records_ = store_->records();
        for (const SavedViewRecord& r : records_) list_->addItem(formatSavedViewLine(r));
    }
    addButton_->setEnabled(store_ != nullptr);

    connect(addButton_, &QPushButton::clicked, this, &SettingsDialog::addView);
    connect(list_, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* current, QListWidgetItem*) { lineSelected(current); });
}

QLineEdit* SettingsDialog::edit(int controlId) const {
    switch (controlId) {
    case 1000: return runUntilEdit_;
    case 1002: return xEdit_;
    case 1003: return yEdit_;
    case 1004: return zEdit_;
    case 1005: return altEdit_;
    case 1006: return azEdit_;
    case 1010: return descriptionEdit_;
    default: return nullptr;
    }
}

void SettingsDialog::addView() {
    if (!store_) return;
    SavedViewRecord r;
    r.description = descriptionEdit_->text().trimmed();
    r.x = float(leadingNumber(xEdit_->text()));
    r.y = float(leadingNumber(yEdit_->text()));
    r.z = float(leadingNumber(zEdit_->text()));
    r.alt = float(leadingNumber(altEdit_->text()));
    r.az = float(leadingNumber(azEdit_->text()));
    store_->append(r);
    records_.push_back(r);
    list_->addItem(formatSavedViewLine(r));
}

void SettingsDialog::lineSelected(QListWidgetItem* item) {
    if (!item) return;
    // A line of the list is recalled as every front end recalls a saved
    // view: whole numbers, as the line shows them.
    const int row = list_->row(item);
    if (row >= 0 && size_t(row) < records_.size()) {
        const SavedViewRecord& r = records_[size_t(row)];
        SavedView view;
        view.x = r.x;
        view.y = r.y;
        view.z = r.z;
        view.alt = r.alt;
        view.az = r.az;
        const Camera c = recallSavedView(view);
        xEdit_->setText(QString::number(truncated(c.x)));
        yEdit_->setText(QString::number(truncated(c.y)));
        zEdit_->setText(QString::number(truncated(c.z)));
        altEdit_->setText(QString::number(truncated(c.alt)));
        azEdit_->setText(QString::number(truncated(c.az)));
        descriptionEdit_->setText(r.description);
        return;
    }
    SavedViewLineFields f = parseSavedViewLine(item->text());
    if (f.x) xEdit_->setText(*f.x);
    if (f.y) yEdit_->setText(*f.y);
    if (f.z) zEdit_->setText(*f.z);
    if (f.alt) altEdit_->setText(*f.alt);
    if (f.az) azEdit_->setText(*f.az);
    if (f.description) descriptionEdit_->setText(*f.description);
}

void SettingsDialog::accept() {
    bool ok = false;
    long long limit = runUntilEdit_->text().trimmed().toLongLong(&ok, 10);
    if (!ok) return rejectField(this, runUntilEdit_, QStringLiteral("Enter an integer."));
    if (limit < 0 || limit > 1000000000LL)
        return rejectField(this, runUntilEdit_, QStringLiteral("Enter an integer between 0 and 1000000000."));
    QLineEdit* edits[5] = {xEdit_, yEdit_, zEdit_, altEdit_, azEdit_};
    float values[5];
    for (int i = 0; i < 5; ++i) {
        auto v = parseNumberField(edits[i]->text());
        if (!v) return rejectField(this, edits[i], QStringLiteral("Enter a number."));
        values[i] = *v;
    }
    runUntil_ = uint32_t(limit);
    camera_ = {values[0], values[1], values[2], values[3], values[4]};
    description_ = descriptionEdit_->text();
    QDialog::accept();
}

// ---------------------------------------------------------------- Regions

RegionsDialog::RegionsDialog(Universe& universe, QWidget* parent) : QDialog(parent), universe_(universe) {
    setWindowTitle(QStringLiteral("Regions"));
    auto* layout = new QVBoxLayout(this);
    tree_ = new QTreeWidget(this);
    tree_->setObjectName(QStringLiteral("1013"));
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    layout->addWidget(tree_, 1);
    layout->addWidget(okCancel(this));
    resize(300, 340);
    fill();
}

namespace {
constexpr int kRegionRole = Qt::UserRole + 1;

QTreeWidgetItem* newItem(const QString& text, bool checked) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    item->setData(0, kRegionRole, QVariant::fromValue<quintptr>(0));
    return item;
}

RegionEntry* regionOf(const QTreeWidgetItem* item) {
    return reinterpret_cast<RegionEntry*>(item->data(0, kRegionRole).value<quintptr>());
}

QTreeWidgetItem* childWithText(QTreeWidgetItem* parent, const QString& text) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == text) return parent->child(i);
    return nullptr;
}
}  // namespace

void RegionsDialog::fill() {
    tree_->clear();
    auto* root = newItem(QStringLiteral("root"), true);
    tree_->addTopLevelItem(root);
    for (const auto& entry : universe_.regionEntries()) {
        QTreeWidgetItem* at = root;
        const QString path = QString::fromStdString(entry->path);
        if (!path.isEmpty()) {
            for (const QString& part : path.split(QLatin1Char('.'), Qt::KeepEmptyParts)) {
                QTreeWidgetItem* next = childWithText(at, part);
                if (!next) {
                    next = newItem(part, false);
                    at->addChild(next);
                }
                at = next;
            }
        }
        at->setData(0, kRegionRole, QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(entry.get())));
        at->setCheckState(0, entry->ticked ? Qt::Checked : Qt::Unchecked);
    }
    tree_->expandAll();
}

QTreeWidgetItem* RegionsDialog::itemForPath(const QString& dottedPath) const {
    QTreeWidgetItem* at = tree_->topLevelItem(0);
    if (!at || dottedPath.isEmpty()) return at;
    for (const QString& part : dottedPath.split(QLatin1Char('.'), Qt::KeepEmptyParts)) {
        at = childWithText(at, part);
        if (!at) return nullptr;
    }
    return at;
}

void RegionsDialog::applyTicks() {
    // Pre-order walk carrying whether every item above is ticked.
    struct Walk {
        static void visit(QTreeWidgetItem* item, bool ancestorsTicked) {
            bool ticked = item->checkState(0) == Qt::Checked;
            bool visible = ancestorsTicked && ticked;
            if (RegionEntry* r = regionOf(item)) {
                r->ticked = ticked ? 1 : 0;
                r->visible = visible ? 1 : 0;
            }
            for (int i = 0; i < item->childCount(); ++i) visit(item->child(i), visible);
        }
    };
    for (int i = 0; i < tree_->topLevelItemCount(); ++i) Walk::visit(tree_->topLevelItem(i), true);
}

void RegionsDialog::accept() {
    applyTicks();
    QDialog::accept();
}

// ---------------------------------------------------------------- Animation

AnimationDialog::AnimationDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Animation"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QGridLayout;
    folder_ = namedEdit(1014, this);
    prefix_ = namedEdit(1017, this);
    interval_ = numbersOnly(namedEdit(1016, this));
    form->addWidget(new QLabel(QStringLiteral("Folder"), this), 0, 0);
    form->addWidget(folder_, 0, 1, 1, 2);
    form->addWidget(new QLabel(QStringLiteral("File prefix"), this), 1, 0);
    form->addWidget(prefix_, 1, 1, 1, 2);
    form->addWidget(new QLabel(QStringLiteral("Output every"), this), 2, 0);
    form->addWidget(interval_, 2, 1);
    form->addWidget(new QLabel(QStringLiteral("steps"), this), 2, 2);
    layout->addLayout(form);
    layout->addWidget(okCancel(this));
}

void AnimationDialog::setFields(const FrameOutputFields& f) {
    folder_->setText(f.folder);
    prefix_->setText(f.prefix);
    interval_->setText(f.interval > 0 ? QString::number(f.interval) : QString());
}

FrameOutputFields AnimationDialog::fields() const {
    FrameOutputFields f;
    f.folder = folder_->text();
    f.prefix = prefix_->text();
    long long n = leadingInteger(interval_->text());
    // The interval is a 32-bit field; a huge entry means "practically never".
    if (n > std::numeric_limits<int32_t>::max()) n = std::numeric_limits<int32_t>::max();
    if (n < 0) n = 0;
    f.interval = int32_t(n);
    return f;
}

// ---------------------------------------------------------------- Write to Memory

MemoryDialog::MemoryDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Write to Memory"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    x_ = namedEdit(1018, this);
    y_ = namedEdit(1019, this);
    z_ = namedEdit(1020, this);
    path_ = namedEdit(1021, this);
    offset_ = namedEdit(1022, this);
    grid->addWidget(new QLabel(QStringLiteral("Coords(x,y,z)"), this), 0, 0);
    grid->addWidget(x_, 0, 1);
    grid->addWidget(y_, 0, 2);
    grid->addWidget(z_, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Memory file"), this), 1, 0);
    grid->addWidget(path_, 1, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Offset"), this), 2, 0);
    grid->addWidget(offset_, 2, 1);
    layout->addLayout(grid);
    layout->addWidget(okCancel(this));
    for (QLineEdit* e : {x_, y_, z_, offset_}) e->setText(QStringLiteral("0"));
    resize(520, 140);
}

QLineEdit* MemoryDialog::edit(int controlId) const {
    switch (controlId) {
    case 1018: return x_;
    case 1019: return y_;
    case 1020: return z_;
    case 1021: return path_;
    case 1022: return offset_;
    default: return nullptr;
    }
}

void MemoryDialog::accept() {
    QLineEdit* ints[4] = {x_, y_, z_, offset_};
    int32_t values[4];
    for (int i = 0; i < 4; ++i) {
        auto v = parseIntegerField(ints[i]->text());
        if (!v) return rejectField(this, ints[i], QStringLiteral("Enter an integer."));
        values[i] = *v;
    }
    fields_ = {values[0], values[1], values[2], path_->text(), values[3]};
    QDialog::accept();
}
