// Command identifiers of the desktop program.
//
// Menus, toolbar buttons and accelerators all refer to commands by these
// numbers; they are the program's resource interface and are kept stable so
// that an action can be looked up by the identifier wherever it appears.
// Identifiers at or above 57344 are the framework-style standard commands
// (file, window, help); the others are this program's own.
#pragma once

namespace cmd {

enum Id : int {
    // run control (document)
    Go = 32778,
    Stop = 32779,
    Step = 32780,
    GoSlow = 32782,
    Settings = 32783,
    NoHandlerButton = 32785,  // toolbar button without a command behind it
    WriteDriveCoordinates = 32786,
    Regions = 32787,
    SaveBitmap = 32789,
    AnimationSettings = 32790,
    SaveTerminals = 32791,
    RunAnimation = 32792,
    WriteMemory = 32793,
    CentreOfMass = 32795,
    FitAll = 32796,
    SavedViews = 32797,  // the View menu's list of the project's saved views
    FitEverything = 32798,  // Shift+Home: Fit All with runaway parts included

    // building and changing machines
    TurnClockwise = 32800,      // the selection, a quarter turn about the view's vertical
    TurnAnticlockwise = 32801,
    MirrorSelection = 32802,    // across the view's horizontal
    ToolSelect = 32803,
    ToolPlace = 32804,
    ToolErase = 32805,
    RunReset = 32806,           // back to the state as loaded
    StepBack = 32807,           // one generation back

    // panes and pictures
    ViewLegend = 32808,   // the part colours beside their names
    CopyPicture = 32809,  // the active view's picture onto the clipboard
    ViewStatistics = 32810,  // counts of the active document's universe
    ViewSignals = 32811,     // the Signals pane: recorded lanes as traces

    // standard file commands
    FileNew = 57600,
    FileOpen = 57601,
    FileClose = 57602,
    FileSaveAs = 57604,
    FilePrint = 57607,
    RecentFile1 = 57616,
    RecentFile2 = 57617,
    RecentFile3 = 57618,
    RecentFile4 = 57619,

    // standard edit commands
    EditClear = 57632,  // Delete: erases the selection
    EditCopy = 57634,
    EditCut = 57635,
    EditPaste = 57637,
    EditSelectAll = 57642,
    EditUndo = 57643,
    EditRedo = 57644,

    // window commands
    WindowNew = 57648,
    WindowArrange = 57649,
    WindowCascade = 57650,
    WindowTileHorz = 57651,

    About = 57664,
    Exit = 57665,
    NextPane = 57680,
    PrevPane = 57681,

    ViewToolbar = 59392,
    ViewStatusBar = 59393,
};

}  // namespace cmd
