// The command table: every command's text, prompt, shortcuts and enable rule
// in one list, and the menu and toolbar layouts as lists of identifiers.
//
// Design note
//   Menus, toolbar buttons and accelerators are all built from these lists,
//   so a command cannot have one text in a menu and another on a button, and
//   its enable rule is stated once, beside it. The table holds plain data
//   (no Qt objects); ActionSet turns it into QActions owned by one window.
//   Enable rules are evaluated from a CommandContext that the main window
//   fills from the active view, so the rules stay testable as data.
#pragma once

#include <QHash>
#include <QString>
#include <vector>

class QAction;
class QMenu;
class QToolBar;
class QWidget;

enum class EnableRule {
    Always,
    Never,     // no handler: the command exists for its button or key only
    WithView,  // needs an active view
    CanGo,     // the worker is stopped and the run-until limit lets it go on
    Stopped,   // the worker is stopped (at the run-until limit too)
    CanStop,   // the worker runs or runs slowly
    CanUndo,   // the document's timeline has an edit to undo
    CanRedo,
    HasSelection,  // the active view has a selection
    CanPaste,  // the clipboard holds grid text
};

enum CommandFlag : unsigned {
    Checkable = 1,
    Checked = 2,
    WindowWide = 4,  // the shortcut works wherever the keyboard focus is in the window
};

struct CommandSpec {
    int id;
    const char* text;
    const char* prompt;     // status text, then "\n" and the tooltip; may be empty
    const char* shortcuts;  // ";"-separated key sequences; may be empty
    EnableRule enable;
    unsigned flags;
};

const std::vector<CommandSpec>& commandTable();
const CommandSpec* findCommand(int id);

// Entries of a menu layout besides command identifiers.
namespace layout {
constexpr int Separator = 0;
constexpr int RecentFiles = -1;  // separator, placeholder, four entries, separator
constexpr int SavedViews = -2;   // the saved-views submenu
constexpr int WindowList = -3;   // separator and one entry per child window
}  // namespace layout

struct MenuSpec {
    const char* title;
    std::vector<int> items;
};

const std::vector<MenuSpec>& noDocumentMenuLayout();
const std::vector<MenuSpec>& documentMenuLayout();
const std::vector<int>& toolbarLayout();
// The edit toolbar: commands, then the part palette and the tools.
const std::vector<int>& editToolbarLayout();

struct CommandContext {
    bool haveView = false;
    bool stopped = false;
    bool canGo = false;  // stopped, and not held at the run-until limit
    bool canStop = false;
    bool canUndo = false;
    bool canRedo = false;
    bool hasSelection = false;
    bool canPaste = false;
};

bool commandEnabled(EnableRule rule, const CommandContext& context);

// The actions of one window, one per command of the table.
class ActionSet {
public:
    // Creates every action as a child of `owner`; window-wide and handlerless
    // ones are added to `owner` so their shortcuts work everywhere.
    explicit ActionSet(QWidget* owner);
    QAction* operator[](int id) const { return actions_.value(id); }
    const QHash<int, QAction*>& all() const { return actions_; }
    // Applies every command's enable rule.
    void updateEnabled(const CommandContext& context);

private:
    QHash<int, QAction*> actions_;
};
