// Dialog behaviour and the text rules behind it, and the pieces of frame
// output and animation runs that need no window: plan files, file names,
// gzip input, the frame-output decision and the recent-file list.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <zlib.h>

#include <sstream>

#include "files/grid_file.h"
#include "gui_support.h"
#include "shell/animation_run.h"
#include "shell/cellforge_view.h"
#include "shell/dialogs.h"
#include "shell/recent_files.h"
#include "universe/universe.h"

namespace {

class MemoryStore : public SavedViewStore {
public:
    std::vector<SavedViewRecord> list;
    int writes = 0;
    std::vector<SavedViewRecord> records() const override { return list; }
    void append(const SavedViewRecord& r) override {
        list.push_back(r);
        ++writes;
    }
};

void loadGrid(Universe& u, const std::string& text) {
    std::istringstream in(text);
    readGridFile(u, in);
}

bool writeGz(const QString& path, const std::string& data) {
    gzFile gz = gzopen(path.toStdString().c_str(), "wb");
    if (!gz) return false;
    gzwrite(gz, data.data(), unsigned(data.size()));
    return gzclose(gz) == Z_OK;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir_;
    QTemporaryDir work_;

private slots:
    void initTestCase() { isolateSettings(settingsDir_.path()); }

    void savedViewLinesTruncateAndKeepTheDescription() {
        QCOMPARE(formatSavedViewLine({QStringLiteral("hall"), 2.7f, -2.7f, 60.0f, 20.9f, -0.5f}),
                 QStringLiteral("x=2 y=-2 z=60 alt=20 az=0 hall"));
        // An empty description still leaves the blank after az.
        QCOMPARE(formatSavedViewLine({QString(), 1, 2, 3, 4, 5}), QStringLiteral("x=1 y=2 z=3 alt=4 az=5 "));
        // Values far outside the integer range are clamped, not undefined.
        QCOMPARE(formatSavedViewLine({QStringLiteral("far"), 1e20f, -1e20f, 0, 0, 0}),
                 QStringLiteral("x=2147483647 y=-2147483648 z=0 alt=0 az=0 far"));
    }

    void selectingALineSplitsItIntoFields() {
        SavedViewLineFields f = parseSavedViewLine(QStringLiteral("x=2 y=-3 z=60 alt=20 az=0 the x=9 hall"));
        QCOMPARE(*f.x, QStringLiteral("2"));
        QCOMPARE(*f.y, QStringLiteral("-3"));
        QCOMPARE(*f.z, QStringLiteral("60"));
        QCOMPARE(*f.alt, QStringLiteral("20"));
        QCOMPARE(*f.az, QStringLiteral("0"));
        QCOMPARE(*f.description, QStringLiteral("the x=9 hall"));
        SavedViewLineFields empty = parseSavedViewLine(QStringLiteral("x=1 y=2 z=3 alt=4 az=5 "));
        QCOMPARE(*empty.description, QString());
        // No blank after az: az and the description stay untouched.
        SavedViewLineFields cut = parseSavedViewLine(QStringLiteral("x=1 y=2 z=3 alt=4 az=5"));
        QVERIFY(cut.x && !cut.az && !cut.description);
    }

    void numberConversions() {
        QCOMPARE(leadingInteger(QStringLiteral("  -12abc")), -12LL);
        QCOMPARE(leadingInteger(QStringLiteral("abc")), 0LL);
        QCOMPARE(leadingInteger(QString()), 0LL);
        QCOMPARE(leadingInteger(QStringLiteral("99999999999999999999999")) > 0, true);
        QCOMPARE(leadingNumber(QStringLiteral(" 2.5e1xyz")), 25.0);
        QCOMPARE(leadingNumber(QStringLiteral("-.5")), -0.5);
        QCOMPARE(leadingNumber(QStringLiteral("x")), 0.0);
        QVERIFY(!parseIntegerField(QStringLiteral("12a")));
        QVERIFY(!parseIntegerField(QStringLiteral("")));
        QVERIFY(!parseIntegerField(QStringLiteral("3000000000")));
        QCOMPARE(*parseIntegerField(QStringLiteral(" -7 ")), -7);
        QVERIFY(!parseNumberField(QStringLiteral("1e40")));
        QVERIFY(!parseNumberField(QStringLiteral("nan")));
        QCOMPARE(*parseNumberField(QStringLiteral("1e3")), 1000.0f);
    }

    void settingsDialogListsSelectsAndAdds() {
        MemoryStore store;
        store.list.push_back({QStringLiteral("entrance"), 2.7f, 5, 60, 20, 0});
        store.list.push_back({QString(), -1, 0, 3, 0, 90});
        SettingsDialog d(100, {1, 2, 3, 4, 5}, QStringLiteral("mine"), &store);
        QCOMPARE(d.viewList()->count(), 2);
        QCOMPARE(d.viewList()->item(0)->text(), QStringLiteral("x=2 y=5 z=60 alt=20 az=0 entrance"));
        QCOMPARE(d.viewList()->item(1)->text(), QStringLiteral("x=-1 y=0 z=3 alt=0 az=90 "));
        QVERIFY(d.addButton()->isEnabled());
        QCOMPARE(d.runUntilEdit()->text(), QStringLiteral("100"));
        QCOMPARE(d.edit(1002)->text(), QStringLiteral("1"));
        QCOMPARE(d.edit(1010)->text(), QStringLiteral("mine"));

        d.viewList()->setCurrentRow(0);
        QCOMPARE(d.edit(1002)->text(), QStringLiteral("2"));  // recalled positions are whole numbers
        QCOMPARE(d.edit(1004)->text(), QStringLiteral("60"));
        QCOMPARE(d.edit(1010)->text(), QStringLiteral("entrance"));

        d.edit(1002)->setText(QStringLiteral("7.5junk"));
        d.edit(1010)->setText(QStringLiteral("  spaced out  "));
        QTest::mouseClick(d.addButton(), Qt::LeftButton);
        QCOMPARE(store.writes, 1);
        QCOMPARE(store.list.back().x, 7.5f);
        QCOMPARE(store.list.back().description, QStringLiteral("spaced out"));
        QCOMPARE(d.viewList()->item(2)->text(), QStringLiteral("x=7 y=5 z=60 alt=20 az=0 spaced out"));
    }

    void settingsDialogWithoutListDisablesAdd() {
        SettingsDialog d(0, {}, QString(), nullptr);
        QCOMPARE(d.viewList()->count(), 0);
        QVERIFY(!d.addButton()->isEnabled());
    }

    void settingsValidationKeepsTheDialogOpenOnTheBadField() {
        struct Case {
            int field;
            QString text;
            QString message;
        };
        const Case cases[] = {
            {1000, QStringLiteral("12x"), QStringLiteral("Enter an integer.")},
            {1000, QStringLiteral("1000000001"), QStringLiteral("Enter an integer between 0 and 1000000000.")},
            {1000, QStringLiteral("-1"), QStringLiteral("Enter an integer between 0 and 1000000000.")},
            {1004, QStringLiteral("abc"), QStringLiteral("Enter a number.")},
            {1006, QString(), QStringLiteral("Enter a number.")},
        };
        for (const Case& c : cases) {
            SettingsDialog d(0, {}, QString(), nullptr);
            d.show();
            d.edit(c.field)->setText(c.text);
            MessageCatcher catcher;
            d.accept();
            QCOMPARE(catcher.texts.size(), size_t(1));
            QCOMPARE(catcher.texts[0], c.message);
            QVERIFY(d.isVisible());
            QCOMPARE(d.result(), int(QDialog::Rejected));
            QCOMPARE(d.focusWidget(), static_cast<QWidget*>(d.edit(c.field)));
            QCOMPARE(d.edit(c.field)->selectedText(), c.text);
        }
        SettingsDialog ok(0, {}, QString(), nullptr);
        ok.edit(1000)->setText(QStringLiteral("1000000000"));
        ok.edit(1005)->setText(QStringLiteral("-45.5"));
        ok.accept();
        QCOMPARE(ok.result(), int(QDialog::Accepted));
        QCOMPARE(ok.runUntil(), 1000000000u);
        QCOMPARE(ok.camera().alt, -45.5f);
    }

    void regionsTreeFollowsDottedNames() {
        Universe u;
        // a, a.b, a.c, then p.q without p, then a second a.b.
        loadGrid(u,
                 "record identifier a\n" + gridText({{0, 0, 0, 1}}) + "record identifier b\n" + gridText({{1, 0, 0, 1}}) +
                     "record up\nrecord identifier c\n" + gridText({{2, 0, 0, 1}}) + "record up\nrecord up\n");
        u.openRegion("p.q", nullptr);
        RegionEntry* second = u.openRegion("a.b", nullptr);
        QVERIFY(u.regionEntries().size() >= 5);

        RegionsDialog d(u);
        QTreeWidgetItem* root = d.tree()->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("root"));
        QCOMPARE(root->checkState(0), Qt::Checked);
        QTreeWidgetItem* a = d.itemForPath(QStringLiteral("a"));
        QVERIFY(a);
        QCOMPARE(a->childCount(), 2);
        QCOMPARE(a->child(0)->text(0), QStringLiteral("b"));
        QCOMPARE(a->child(1)->text(0), QStringLiteral("c"));
        QTreeWidgetItem* p = d.itemForPath(QStringLiteral("p"));
        QVERIFY(p);
        QCOMPARE(p->checkState(0), Qt::Unchecked);  // made only to complete the path

        a->setCheckState(0, Qt::Unchecked);
        d.accept();
        auto entry = [&](const std::string& path) -> RegionEntry* {
            for (const auto& r : u.regionEntries())
                if (r->path == path) return r.get();
            return nullptr;
        };
        QCOMPARE(int(entry("a")->visible), 0);
        QCOMPARE(int(entry("a")->ticked), 0);
        QCOMPARE(int(entry("a.c")->visible), 0);
        QCOMPARE(int(entry("a.c")->ticked), 1);
        QCOMPARE(int(second->visible), 0);
        QCOMPARE(int(second->ticked), 1);
        // The first a.b shares its item with the later one, which alone is updated.
        QCOMPARE(int(entry("a.b")->visible), 1);
        QCOMPARE(int(entry("p.q")->visible), 0);
        QCOMPARE(int(entry("p.q")->ticked), 1);

        // Ticks survive into the next showing.
        RegionsDialog again(u);
        QCOMPARE(again.itemForPath(QStringLiteral("a"))->checkState(0), Qt::Unchecked);
        QCOMPARE(again.itemForPath(QStringLiteral("a.c"))->checkState(0), Qt::Checked);
    }

    void animationAndMemoryDialogFields() {
        AnimationDialog a;
        QVERIFY(a.folderEdit()->text().isEmpty() && a.intervalEdit()->text().isEmpty());
        QCOMPARE(a.fields().interval, 0);  // empty switches output off
        a.folderEdit()->setText(QStringLiteral("/tmp/out"));
        a.prefixEdit()->setText(QStringLiteral("f"));
        a.intervalEdit()->setText(QStringLiteral("10steps"));
        QCOMPARE(a.fields().interval, 10);
        QCOMPARE(a.fields().folder, QStringLiteral("/tmp/out"));

        MemoryDialog m;
        QCOMPARE(m.edit(1018)->text(), QStringLiteral("0"));
        m.edit(1019)->setText(QStringLiteral("4.5"));
        m.show();
        MessageCatcher catcher;
        m.accept();
        QCOMPARE(catcher.texts.size(), size_t(1));
        QCOMPARE(catcher.texts[0], QStringLiteral("Enter an integer."));
        QVERIFY(m.isVisible());
        m.edit(1019)->setText(QStringLiteral("-4"));
        m.edit(1021)->setText(QStringLiteral("image.txt"));
        m.edit(1022)->setText(QStringLiteral("256"));
        m.accept();
        QCOMPARE(m.result(), int(QDialog::Accepted));
        QCOMPARE(m.fields().y, -4);
        QCOMPARE(m.fields().offset, 256);
        QCOMPARE(m.fields().path, QStringLiteral("image.txt"));
    }

    void runListsReadTokensWhateverTheLines() {
        std::istringstream spread("/frames\nrun /g/g0001\n0 5\n60 20 0 /g/g0002 1 2 3 4 5");
        std::istringstream oneLine("/frames run /g/g0001 0 5 60 20 0 /g/g0002 1 2 3 4 5");
        AnimationSpec a = readAnimationSpec(spread), b = readAnimationSpec(oneLine);
        QCOMPARE(a.folder, std::string("/frames"));
        QCOMPARE(a.prefix, std::string("run"));
        QCOMPARE(a.entries.size(), size_t(2));
        QCOMPARE(b.entries.size(), size_t(2));
        QCOMPARE(a.entries[1].name, std::string("/g/g0002"));
        QCOMPARE(a.entries[1].az, 5.0f);
        QCOMPARE(b.entries[0].z, 60.0f);
        // A bad number keeps the previous entry's value and ends the list.
        std::istringstream bad("f p n1 1 2 3 4 5 n2 9 x 7 7 7 n3 1 1 1 1 1");
        AnimationSpec c = readAnimationSpec(bad);
        QCOMPARE(c.entries.size(), size_t(2));
        QCOMPARE(c.entries[1].x, 9.0f);
        QCOMPARE(c.entries[1].y, 2.0f);
        QCOMPARE(c.entries[1].az, 5.0f);
        std::istringstream empty("");
        AnimationSpec e = readAnimationSpec(empty);
        QVERIFY(e.folder.empty() && e.entries.empty());
    }

    void frameFileNamesHaveAtLeastSixDigits() {
        QCOMPARE(frameFileName("/out", "f", 0), std::string("/out/f000000.bmp"));
        QCOMPARE(frameFileName("/out", "run", 2), std::string("/out/run000002.bmp"));
        QCOMPARE(frameFileName("/out", "f", 1234567), std::string("/out/f1234567.bmp"));
    }

    void frameOutputDecision() {
        FrameOutput out;
        out.interval = 10;
        QVERIFY(!frameOutputDue(out, 8));
        QVERIFY(frameOutputDue(out, 9));  // 0xFFFFFFFF + 10 wraps to 9
        QVERIFY(!frameOutputDue(out, 9));
        QVERIFY(!frameOutputDue(out, 18));
        QVERIFY(frameOutputDue(out, 25));  // several intervals passed: one frame
        QCOMPARE(out.lastGeneration, 25u);
        FrameOutput every;
        every.interval = 1;
        QVERIFY(frameOutputDue(every, 0));
        QVERIFY(!frameOutputDue(every, 0));  // the worker stood still
        QVERIFY(frameOutputDue(every, 1));
        FrameOutput off;
        QVERIFY(!frameOutputDue(off, 100));
    }

    void gunzipLeavesTheSourceAndRejectsOtherInput() {
        const QString gz = work_.filePath(QStringLiteral("g.gz"));
        const QString out = work_.filePath(QStringLiteral("g.grd"));
        const std::string grid = gridText(demoCells());
        QVERIFY(writeGz(gz, grid));
        QVERIFY(gunzipFile(gz.toStdString(), out.toStdString()));
        QCOMPARE(readText(out), grid);
        QVERIFY(QFile::exists(gz));

        const QString plain = work_.filePath(QStringLiteral("plain.gz"));
        writeText(plain, "not compressed at all");
        const QString out2 = work_.filePath(QStringLiteral("plain.grd"));
        QVERIFY(!gunzipFile(plain.toStdString(), out2.toStdString()));
        QVERIFY(!QFile::exists(out2));
        QVERIFY(!gunzipFile(work_.filePath(QStringLiteral("missing.gz")).toStdString(), out2.toStdString()));

        // A truncated stream is an error, and leaves no partial grid behind.
        std::string bytes = readText(gz);
        writeText(plain, bytes.substr(0, bytes.size() / 2));
        QVERIFY(!gunzipFile(plain.toStdString(), out2.toStdString()));
        QVERIFY(!QFile::exists(out2));
    }

    void recentFilesKeepFourNewestFirstAcrossInstances() {
        {
            RecentFileList list;
            for (const char* p : {"/a.prj", "/b.prj", "/c.prj", "/d.prj", "/e.prj", "/c.prj"}) list.add(QString::fromLatin1(p));
            QCOMPARE(list.entries(), QStringList({"/c.prj", "/e.prj", "/d.prj", "/b.prj"}));
            QCOMPARE(list.entry(4), QStringLiteral("/b.prj"));
            QVERIFY(list.entry(5).isEmpty());
        }
        RecentFileList reread;
        QCOMPARE(reread.entries(), QStringList({"/c.prj", "/e.prj", "/d.prj", "/b.prj"}));
        QSettings s(kSettingsOrganisation, kSettingsApplication);
        QCOMPARE(s.value(QStringLiteral("Recent File List/File1")).toString(), QStringLiteral("/c.prj"));
        QVERIFY(s.fileName().startsWith(settingsDir_.path()));
    }

    void frameworkFiltersBecomeQtFilters() {
        QCOMPARE(qtFilterFromFrameworkFilter(QStringLiteral("Cellforge project file (*.prj)|*.prj||")),
                 QStringLiteral("Cellforge project file (*.prj)"));
        QCOMPARE(qtFilterFromFrameworkFilter(QStringLiteral("Bitmaps|*.bmp|All|*.*||")),
                 QStringLiteral("Bitmaps (*.bmp);;All (*)"));
        QCOMPARE(withDefaultExtension(QStringLiteral("/x/out"), QStringLiteral("bmp")), QStringLiteral("/x/out.bmp"));
        QCOMPARE(withDefaultExtension(QStringLiteral("/x/out.txt"), QStringLiteral("bmp")), QStringLiteral("/x/out.txt"));
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
