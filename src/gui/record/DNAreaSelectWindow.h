#pragma once

#include "controls/DNAreaSelector.h"

#include <QRect>
#include <QWidget>

#include <functional>

class QPushButton;

// A handle of the region picker: a round knob centred on the selection's edge.
class DNWindowDragCell : public DNDragCell {
public:
    void drawCellInView(QPainter& painter, const DNAreaSelector& view) const override;
};

// The picked region itself: outlined, with the rest of the screen dimmed and
// the region's size written beside it.
class DNWindowCenterCell : public DNCenterDragCell {
public:
    void drawCellInView(QPainter& painter, const DNAreaSelector& view) const override;
    void drawShelteInView(QPainter& painter, const DNAreaSelector& view) const override;
};

// The picker's selection view: handles on the edges, a "Use This Region"
// button kept in the middle of the selection, and a new rectangle drawn by
// pressing outside the current one.
class DNWindowSelectView : public DNAreaSelector {
    Q_OBJECT
public:
    explicit DNWindowSelectView(const QRect& frame, QWidget* parent = nullptr);

    void setAction(std::function<void()> action) { m_action = std::move(action); }
    void refresh() { refreshDragCellPosition(); }
    void setSelectionArea(const QRectF& area) override;
    void refreshDragCellPosition() override;
    // A selection narrower or lower than the lower limit takes the limit's
    // size on that axis, centred in the view.
    void checkSelectionArea();
    // The rectangle spanned by the two points, clipped to the view.
    void updateCreateDragArea(const QPointF& pressPoint, const QPointF& dragPoint);
    QPushButton* doneButton() const { return m_done; }

protected:
    std::unique_ptr<DNDragCell> classOfDragCell() const override;
    std::unique_ptr<DNDragCell> classOfCenterDragArea() const override;
    void drawRect(QPainter& painter) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void creatWidgetInCenterArea();
    void centreDoneButton();
    void onDoneClicked();

    std::function<void()> m_action;
    QPushButton* m_done = nullptr;
    bool m_creating = false;
    bool m_dragged = false;
    QPointF m_pressPoint;
};

// The region picker: a window over a whole screen with one selection view.
// The button reports the selection through areaSelectDidFinished and hides
// the picker; Escape hides it without a report.
class DNAreaSelectWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr QSizeF kInitialArea { 800, 600 };
    static constexpr QSizeF kLowerLimit { 100, 80 };

    // `screen`: the geometry of the screen to pick on.
    explicit DNAreaSelectWindow(const QRect& screen, QWidget* parent = nullptr);

    // In the view's coordinates: origin at the bottom left of the screen.
    QRectF selectionArea() const;
    DNWindowSelectView* selectView() const { return m_view; }

signals:
    void areaSelectDidFinished(DNAreaSelectWindow* picker);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void onCropRectClicked();

    DNWindowSelectView* m_view = nullptr;
};

// The picker's selection (bottom-left origin inside `screen`) as the top-left
// screen pixels that the recorder takes, the part on the screen only.
QRect screenRegionFromSelection(const QRectF& selection, const QRect& screen);
