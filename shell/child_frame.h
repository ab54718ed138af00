// CChildFrame: a plain MDI child window holding one view.
#pragma once

#include <QMdiSubWindow>

class CCellforgeDoc;
class CCellforgeView;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit CChildFrame(CCellforgeDoc* doc, QWidget* parent = nullptr);
    CCellforgeDoc* document() const { return doc_; }
    CCellforgeView* view() const { return view_; }

private:
    CCellforgeDoc* doc_;
    CCellforgeView* view_;
};
