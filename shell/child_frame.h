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

protected:
    // The last window of an edited document asks whether to save it first.
    void closeEvent(QCloseEvent* event) override;

private:
    CCellforgeDoc* doc_;
    CCellforgeView* view_;
};
