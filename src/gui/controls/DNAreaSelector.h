#pragma once

#include <QCursor>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

#include <memory>
#include <vector>

class DNAreaSelector;
class QPainter;

// One of the eight handles of an area selector. Its frame is in the view's
// own coordinates (origin at the bottom left).
class DNDragCell {
public:
    virtual ~DNDragCell() = default;

    qint64 tag() const { return m_tag; }
    void setTag(qint64 tag) { m_tag = tag; }
    QRectF frame() const { return m_frame; }
    void setFrame(const QRectF& frame) { m_frame = frame; }
    void setCenter(const QPointF& centre, const QSizeF& size);

    // The resize cursor of the handle's direction.
    virtual QCursor cursorForMouseEnter() const;
    virtual QCursor cursorForMouseDown() const { return cursorForMouseEnter(); }
    virtual void drawCellInView(QPainter& painter, const DNAreaSelector& view) const;

private:
    qint64 m_tag = 0;
    QRectF m_frame;
};

// The selection itself: dragged with the hand, outlined, and shading the
// rest of the picture so that what is cut away is plain to see.
class DNCenterDragCell : public DNDragCell {
public:
    QCursor cursorForMouseEnter() const override { return Qt::OpenHandCursor; }
    QCursor cursorForMouseDown() const override { return Qt::ClosedHandCursor; }
    void drawCellInView(QPainter& painter, const DNAreaSelector& view) const override;
    virtual void drawShelteInView(QPainter& painter, const DNAreaSelector& view) const;

protected:
    // In a colour that stands out against what lies under the view.
    void drawDashedOutline(
        QPainter& painter, const DNAreaSelector& view, const QColor& colour) const;
};

// A view in which the person picks a rectangle by dragging eight edge and
// corner handles or the rectangle itself. The selection is kept in the view's
// own coordinates with the origin at the bottom left, as the editor stores it;
// painting and mouse positions are flipped once, here.
//
// Subclasses (the crop rectangle, the watermark boxes, the screen recorder's
// region picker) change the cell classes, the cell placement, the constraint
// on the rectangle, the drawing and the mouse handling through the virtual
// steps below; the base owns the per-handle arithmetic and the limits.
class DNAreaSelector : public QWidget {
    Q_OBJECT
public:
    using CellList = std::vector<std::unique_ptr<DNDragCell>>;

    explicit DNAreaSelector(const QRect& frame, QWidget* parent = nullptr);

    QRectF selectionArea() const { return m_selectionArea; }
    // Stores only: the handles move at the next refreshDragCellPosition.
    virtual void setSelectionArea(const QRectF& area);
    QSizeF lowerLimitSize() const { return m_lowerLimitSize; }
    void setLowerLimitSize(const QSizeF& size) { m_lowerLimitSize = size; }
    bool editabled() const { return m_editabled; }
    virtual void setEditabled(bool editable);

    // Moves and resizes the view at once, also while it is hidden (Qt holds a
    // hidden widget's resize event back until it is shown, which would come
    // after the caller has restored its saved selection).
    void setFrame(const QRect& frame);

    // The nine cells in tag order 1 to 9, made on first use.
    const CellList& controlCells();

    virtual void refreshDragCellPosition();
    // One drag step of `delta` (view points) on `cell`.
    virtual void updateAreaSelection(const QPointF& delta, DNDragCell* cell);
    // The first cell in tag order under the point: a handle wins over the centre.
    virtual DNDragCell* hitCellTest(const QPointF& point);

    // Converts between the view's coordinates and the widget's (y downward).
    QRectF flipped(const QRectF& rect) const;
    QPointF viewPoint(const QPointF& widgetPoint) const;

signals:
    // After every drag step, and after the presets that set the selection.
    void areaSelectDidChanged(DNAreaSelector* selector);

protected:
    virtual void selectAreaDidChanged();
    // A new cell of the kind the handles (tags 1 to 8) are made of.
    virtual std::unique_ptr<DNDragCell> classOfDragCell() const;
    // A new cell of the kind the centre (tag 9) is made of.
    virtual std::unique_ptr<DNDragCell> classOfCenterDragArea() const;
    virtual QRectF constraintForSelectArea(const QRectF& rect);
    // Called when the view's frame changes.
    virtual void frameDidChange();
    virtual void drawRect(QPainter& painter);
    virtual void resetCursorRects(const QPointF& point);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // Stores the selection without the subclass's extra steps.
    void storeSelectionArea(const QRectF& area) { m_selectionArea = area; }
    void drawCells(QPainter& painter);

private:
    QRectF m_selectionArea;
    QSizeF m_lowerLimitSize { 30, 30 };
    bool m_editabled = true;
    CellList m_controlCells;
    QSize m_handledSize;
    DNDragCell* m_touchCell = nullptr;
    QPointF m_previousPoint;
};
