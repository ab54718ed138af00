#include "shell/action_table.h"

#include <QAction>
#include <QKeySequence>
#include <QWidget>

#include "shell/commands.h"
#include "shell/recent_files.h"

using namespace cmd;

const std::vector<CommandSpec>& commandTable() {
    using R = EnableRule;
    static const std::vector<CommandSpec> table = {
        // application
        {FileOpen, "&Open...\tCtrl+O", "Open an existing document\nOpen", "Ctrl+O", R::Always, WindowWide},
        {FileNew, "&New\tCtrl+N", "Create a new document\nNew", "Ctrl+N", R::Always, WindowWide},
        {RunAnimation, "Run animation...", "", "", R::Always, 0},
        {RecentFile1, "", "Open this document", "", R::Always, 0},
        {RecentFile2, "", "Open this document", "", R::Always, 0},
        {RecentFile3, "", "Open this document", "", R::Always, 0},
        {RecentFile4, "", "Open this document", "", R::Always, 0},
        {Exit, "E&xit", "Quit the application; prompts to save documents\nExit", "", R::Always, 0},
        {ViewToolbar, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar", "", R::Always, Checkable | Checked},
        {ViewStatusBar, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", "", R::Always,
         Checkable | Checked},
        {About, "&About Cellforge...", "Display program information, version number and copyright\nAbout", "",
         R::Always, 0},
        // document and view
        {FileClose, "&Close", "Close the active document\nClose", "", R::WithView, 0},
        {FileSaveAs, "Save &As...", "Save the active document with a new name\nSave As", "", R::WithView, 0},
        {SaveTerminals, "Save terminals...", "", "", R::WithView, 0},
        {WriteDriveCoordinates, "Write EPS...", "Write graphics to encapsulated postscript file", "", R::WithView, 0},
        {Regions, "Regions...", "", "", R::WithView, 0},
        {CentreOfMass, "Centre of Mass", "", "", R::WithView, 0},
        // The run keys are the usual debugger keys; F6 stays the pane
        // accelerator, so Go Slow takes F8. Menus list a shortcut beside the
        // item, so the item texts themselves are unchanged.
        {Go, "Go", "", "F5", R::CanGo, WindowWide},
        {Stop, "Stop", "", "Shift+F5", R::CanStop, WindowWide},
        {Step, "Step", "", "F10", R::CanGo, WindowWide},
        {GoSlow, "Go Slow", "", "F8", R::CanGo, WindowWide},
        {FitAll, "Fit All", "Show the bulk of the drawn parts; again for every one of them\nFit All", "Home",
         R::WithView, WindowWide},
        {FitEverything, "Fit Everything", "Show every drawn part, runaway ones included\nFit Everything",
         "Shift+Home", R::WithView, WindowWide},
        {Settings, "Settings...", "", "", R::Stopped, 0},
        {SaveBitmap, "Save &Bitmap...", "", "", R::WithView, 0},
        {AnimationSettings, "&Animation...", "", "", R::WithView, 0},
        {WriteMemory, "Memory...", "", "", R::WithView, 0},
        {WindowNew, "&New Window", "Open another window for the active document\nNew Window", "", R::WithView, 0},
        {WindowCascade, "&Cascade", "Arrange windows so they overlap\nCascade Windows", "", R::WithView, 0},
        {WindowTileHorz, "&Tile", "Arrange windows as non-overlapping tiles\nTile Windows", "", R::WithView, 0},
        {WindowArrange, "&Arrange Icons", "Arrange icons at the bottom of the window\nArrange Icons", "", R::WithView,
         0},
        // Commands without a handler: they exist so their buttons and
        // accelerators are there, and stay disabled.
        {NoHandlerButton, "", "", "", R::Never, 0},
        {FilePrint, "&Print...\tCtrl+P", "Print the active document\nPrint", "Ctrl+P", R::Never, 0},
        // Editing: the standard commands with their usual keys, and the
        // machine-building commands beside them.
        {EditCopy, "&Copy", "Copy the selection and put it on the Clipboard\nCopy", "Ctrl+C;Ctrl+Ins", R::HasSelection,
         WindowWide},
        {EditPaste, "&Paste", "Insert Clipboard contents\nPaste", "Ctrl+V;Shift+Ins", R::CanPaste, WindowWide},
        {EditCut, "Cu&t", "Cut the selection and put it on the Clipboard\nCut", "Ctrl+X;Shift+Del", R::HasSelection,
         WindowWide},
        {EditUndo, "&Undo", "Undo the last action\nUndo", "Ctrl+Z;Alt+Backspace", R::CanUndo, WindowWide},
        {EditRedo, "&Redo", "Redo the previously undone action\nRedo", "Ctrl+Shift+Z;Ctrl+Y", R::CanRedo, WindowWide},
        {EditClear, "&Delete", "Erase the selected parts\nDelete", "Del", R::HasSelection, WindowWide},
        {EditSelectAll, "Select &All", "Select every part\nSelect All", "Ctrl+A", R::WithView, WindowWide},
        {TurnClockwise, "T&urn Right", "Turn the selection a quarter turn about the view's vertical\nTurn Right", "",
         R::HasSelection, 0},
        {TurnAnticlockwise, "Tu&rn Left", "Turn the selection a quarter turn the other way\nTurn Left", "",
         R::HasSelection, 0},
        {MirrorSelection, "&Mirror", "Mirror the selection left to right as the view shows it\nMirror", "",
         R::HasSelection, 0},
        {ToolSelect, "&Select Tool", "Click a part to select it, Shift+click to extend\nSelect", "", R::WithView,
         Checkable | Checked},
        {ToolPlace, "P&lace Tool", "Click a face to place the palette's part in front of it\nPlace", "",
         R::WithView, Checkable},
        {ToolErase, "&Erase Tool", "Click a part to erase it\nErase", "", R::WithView, Checkable},
        {RunReset, "Reset", "Go back to the universe as it was loaded\nReset", "", R::WithView, 0},
        {StepBack, "Step Back", "Go back one generation\nStep Back", "Shift+F10", R::WithView, WindowWide},
        {ViewLegend, "&Legend", "Show the part colours as the views draw them, with their names\nLegend", "",
         R::Always, Checkable},
        {ViewSignals, "Si&gnals",
         "Show the monitored terminals and watched parts as traces over the last generations\nSignals", "",
         R::Always, Checkable},
        {CopyPicture, "Copy &Picture", "Copy the active view's picture to the Clipboard\nCopy Picture",
         "Ctrl+Shift+C", R::WithView, WindowWide},
        {ViewStatistics, "Stat&istics...", "Count the parts and blocks of the active document\nStatistics", "",
         R::WithView, 0},
        {NextPane, "Next Pane", "Switch to the next window pane\nNext Pane", "F6", R::Never, 0},
        {PrevPane, "Previous Pane", "Switch back to the previous window pane\nPrevious Pane", "Shift+F6", R::Never,
         0},
    };
    return table;
}

const CommandSpec* findCommand(int id) {
    for (const CommandSpec& c : commandTable())
        if (c.id == id) return &c;
    return nullptr;
}

const std::vector<MenuSpec>& noDocumentMenuLayout() {
    static const std::vector<MenuSpec> menus = {
        {"&File", {FileOpen, RunAnimation, layout::RecentFiles, Exit}},
        {"&View", {ViewToolbar, ViewStatusBar}},
        {"&Help", {About}},
    };
    return menus;
}

const std::vector<MenuSpec>& documentMenuLayout() {
    using namespace layout;
    static const std::vector<MenuSpec> menus = {
        {"&File", {FileOpen, FileClose, FileSaveAs, SaveTerminals, Separator, WriteDriveCoordinates, RecentFiles, Exit}},
        {"&Edit", {EditUndo, EditRedo, Separator, EditCut, EditCopy, EditPaste, EditClear, Separator, EditSelectAll,
                   Separator, TurnClockwise, TurnAnticlockwise, MirrorSelection, Separator, ToolSelect, ToolPlace,
                   ToolErase}},
        {"&View", {ViewToolbar, ViewStatusBar, Separator, Regions, CentreOfMass, FitAll, layout::SavedViews, Separator,
                   ViewLegend, ViewSignals, CopyPicture, ViewStatistics}},
        {"Run", {Go, Stop, Step, GoSlow, Separator, Settings, Separator, RunReset, StepBack}},
        {"&Tools", {SaveBitmap, AnimationSettings, WriteMemory}},
        {"&Window", {WindowNew, WindowCascade, WindowTileHorz, WindowArrange, WindowList}},
        {"&Help", {About}},
    };
    return menus;
}

const std::vector<int>& toolbarLayout() {
    static const std::vector<int> order = {FileOpen, NoHandlerButton, 0, FilePrint, 0, About, 0, Go, Stop, Step,
                                           GoSlow, 0, Settings, 0, WriteDriveCoordinates, 0, FitAll};
    return order;
}

const std::vector<int>& editToolbarLayout() {
    static const std::vector<int> order = {EditUndo, EditRedo, 0, EditCut, EditCopy, EditPaste, EditClear, 0,
                                           EditSelectAll, TurnClockwise, TurnAnticlockwise, MirrorSelection, 0,
                                           ToolSelect, ToolPlace, ToolErase};
    return order;
}

bool commandEnabled(EnableRule rule, const CommandContext& c) {
    switch (rule) {
    case EnableRule::Always: return true;
    case EnableRule::Never: return false;
    case EnableRule::WithView: return c.haveView;
    case EnableRule::CanGo: return c.haveView && c.canGo;
    case EnableRule::Stopped: return c.haveView && c.stopped;
    case EnableRule::CanStop: return c.haveView && c.canStop;
    case EnableRule::CanUndo: return c.haveView && c.canUndo;
    case EnableRule::CanRedo: return c.haveView && c.canRedo;
    case EnableRule::HasSelection: return c.haveView && c.hasSelection;
    case EnableRule::CanPaste: return c.haveView && c.canPaste;
    }
    return false;
}

ActionSet::ActionSet(QWidget* owner) {
    for (const CommandSpec& entry : commandTable()) {
        auto* a = new QAction(QString::fromUtf8(entry.text), owner);
        a->setData(entry.id);
        a->setObjectName(QStringLiteral("command%1").arg(entry.id));
        const QString prompt = QString::fromUtf8(entry.prompt);
        if (!prompt.isEmpty()) {
            const qsizetype nl = prompt.indexOf(QLatin1Char('\n'));
            a->setStatusTip(nl < 0 ? prompt : prompt.left(nl));
            if (nl >= 0) a->setToolTip(prompt.mid(nl + 1));
        }
        QList<QKeySequence> keys;
        for (const QString& k : QString::fromUtf8(entry.shortcuts).split(QLatin1Char(';'), Qt::SkipEmptyParts))
            keys << QKeySequence(k);
        if (!keys.isEmpty()) a->setShortcuts(keys);
        if (entry.flags & Checkable) {
            a->setCheckable(true);
            a->setChecked(entry.flags & Checked);
        }
        if (entry.enable == EnableRule::Never) a->setEnabled(false);
        if (entry.flags & WindowWide || entry.enable == EnableRule::Never) owner->addAction(a);
        actions_.insert(entry.id, a);
    }
}

void ActionSet::updateEnabled(const CommandContext& context) {
    for (const CommandSpec& entry : commandTable()) {
        const bool on = commandEnabled(entry.enable, context);
        QAction* a = actions_.value(entry.id);
        if (a->isEnabled() != on) a->setEnabled(on);
    }
}
