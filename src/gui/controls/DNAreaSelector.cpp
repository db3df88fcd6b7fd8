#include "controls/DNAreaSelector.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <array>

namespace {

constexpr double kHandleSize = 12;
constexpr double kHandleInset = kHandleSize / 2;
constexpr double kHandleMark = 6;
constexpr qint64 kCenterTag = 9;

// What a drag of (dx, dy) does to the selection through each cell: the
// factors of dx for x and width, and of dy for y and height. The view's y
// grows upward, so a top handle changes the height and a bottom handle both
// the origin and the height.
struct DragRule {
    double xByDx, widthByDx, yByDy, heightByDy;
};
constexpr std::array<DragRule, 9> kDragRules { {
    { 1, -1, 0, 1 }, // 1 top-left
    { 0, 0, 0, 1 }, // 2 top edge
    { 0, 1, 0, 1 }, // 3 top-right
    { 1, -1, 0, 0 }, // 4 left edge
    { 0, 1, 0, 0 }, // 5 right edge
    { 1, -1, 1, -1 }, // 6 bottom-left
    { 0, 0, 1, -1 }, // 7 bottom edge
    { 0, 1, 1, -1 }, // 8 bottom-right
    { 1, 0, 1, 0 }, // 9 centre: moves, keeps its size
} };

// Where each handle's centre lies, as fractions of the selection's width and
// height plus a fixed inset that keeps the handle wholly inside it.
struct HandlePlace {
    double widthFraction, xInset, heightFraction, yInset;
};
constexpr std::array<HandlePlace, 8> kHandlePlaces { {
    { 0, kHandleInset, 1, -kHandleInset },
    { 0.5, 0, 1, -kHandleInset },
    { 1, -kHandleInset, 1, -kHandleInset },
    { 0, kHandleInset, 0.5, 0 },
    { 1, -kHandleInset, 0.5, 0 },
    { 0, kHandleInset, 0, kHandleInset },
    { 0.5, 0, 0, kHandleInset },
    { 1, -kHandleInset, 0, kHandleInset },
} };

} // namespace

void DNDragCell::setCenter(const QPointF& centre, const QSizeF& size)
{
    m_frame = QRectF(
        centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
}

QCursor DNDragCell::cursorForMouseEnter() const
{
    switch (m_tag) {
    case 1:
    case 8:
        return Qt::SizeFDiagCursor;
    case 3:
    case 6:
        return Qt::SizeBDiagCursor;
    case 2:
    case 7:
        return Qt::SizeVerCursor;
    case 4:
    case 5:
        return Qt::SizeHorCursor;
    default:
        return Qt::ArrowCursor;
    }
}

void DNDragCell::drawCellInView(QPainter& painter, const DNAreaSelector& view) const
{
    const QRectF frame = view.flipped(m_frame);
    const QRectF mark(frame.center().x() - kHandleMark / 2, frame.center().y() - kHandleMark / 2,
        kHandleMark, kHandleMark);
    painter.fillRect(mark, Qt::white);
}

void DNCenterDragCell::drawDashedOutline(
    QPainter& painter, const DNAreaSelector& view, const QColor& colour) const
{
    QPen dashed(colour, 1);
    dashed.setDashPattern({ 4, 2 });
    dashed.setJoinStyle(Qt::RoundJoin);
    painter.save();
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(view.flipped(frame()).adjusted(1, 1, -1, -1));
    painter.restore();
}

void DNCenterDragCell::drawCellInView(QPainter& painter, const DNAreaSelector& view) const
{
    drawDashedOutline(painter, view, Qt::white);
    drawShelteInView(painter, view);
}

void DNCenterDragCell::drawShelteInView(QPainter& painter, const DNAreaSelector& view) const
{
    QPainterPath shade;
    shade.setFillRule(Qt::OddEvenFill);
    shade.addRect(QRectF(view.rect()));
    shade.addRect(view.flipped(frame()));
    painter.fillPath(shade, QColor::fromRgbF(0.25f, 0.25f, 0.25f, 0.8f));
}

DNAreaSelector::DNAreaSelector(const QRect& frame, QWidget* parent)
    : QWidget(parent)
    , m_selectionArea(0, 0, frame.width() / 3.0, frame.height() / 3.0)
    , m_handledSize(frame.size())
{
    setGeometry(frame);
    setMouseTracking(true);
}

void DNAreaSelector::setSelectionArea(const QRectF& area)
{
    m_selectionArea = area;
}

void DNAreaSelector::setEditabled(bool editable)
{
    m_editabled = editable;
    update();
}

void DNAreaSelector::setFrame(const QRect& frame)
{
    const QSize handled = m_handledSize;
    setGeometry(frame);
    // A visible view has just handled its resize event; a hidden one has not.
    if (m_handledSize != handled)
        return;
    m_handledSize = size();
    frameDidChange();
}

void DNAreaSelector::resizeEvent(QResizeEvent*)
{
    if (size() == m_handledSize)
        return;
    m_handledSize = size();
    frameDidChange();
}

void DNAreaSelector::frameDidChange()
{
    refreshDragCellPosition();
}

const DNAreaSelector::CellList& DNAreaSelector::controlCells()
{
    // Made here rather than in the constructor, where a subclass's cell
    // classes could not be asked for yet.
    if (m_controlCells.empty()) {
        for (qint64 tag = 1; tag <= kCenterTag; ++tag) {
            auto cell = tag == kCenterTag ? classOfCenterDragArea() : classOfDragCell();
            cell->setTag(tag);
            m_controlCells.push_back(std::move(cell));
        }
        refreshDragCellPosition();
    }
    return m_controlCells;
}

std::unique_ptr<DNDragCell> DNAreaSelector::classOfDragCell() const
{
    return std::make_unique<DNDragCell>();
}

std::unique_ptr<DNDragCell> DNAreaSelector::classOfCenterDragArea() const
{
    return std::make_unique<DNCenterDragCell>();
}

void DNAreaSelector::refreshDragCellPosition()
{
    const CellList& cells = controlCells();
    const QRectF& area = m_selectionArea;
    for (std::size_t index = 0; index < kHandlePlaces.size(); ++index) {
        const HandlePlace& place = kHandlePlaces[index];
        const QPointF centre(area.x() + area.width() * place.widthFraction + place.xInset,
            area.y() + area.height() * place.heightFraction + place.yInset);
        cells[index]->setCenter(centre, { kHandleSize, kHandleSize });
    }
    cells.back()->setFrame(area);
    update();
}

void DNAreaSelector::updateAreaSelection(const QPointF& delta, DNDragCell* cell)
{
    if (!cell || cell->tag() < 1 || cell->tag() > qint64(kDragRules.size()))
        return;
    const DragRule& rule = kDragRules[std::size_t(cell->tag() - 1)];
    const QRectF current = m_selectionArea;
    double x = current.x() + rule.xByDx * delta.x();
    double w = current.width() + rule.widthByDx * delta.x();
    double y = current.y() + rule.yByDy * delta.y();
    double h = current.height() + rule.heightByDy * delta.y();
    // Each axis is judged on its own: a step that fails on one still moves the other.
    if (!(w >= m_lowerLimitSize.width() && x >= 0 && x + w <= width())) {
        x = current.x();
        w = current.width();
    }
    if (!(h >= m_lowerLimitSize.height() && y >= 0 && y + h <= height())) {
        y = current.y();
        h = current.height();
    }
    const QRectF constrained = constraintForSelectArea(QRectF(x, y, w, h));
    setSelectionArea(constrained.intersected(QRectF(0, 0, width(), height())));
    refreshDragCellPosition();
    selectAreaDidChanged();
}

DNDragCell* DNAreaSelector::hitCellTest(const QPointF& point)
{
    for (const auto& cell : controlCells()) {
        if (cell->frame().contains(point))
            return cell.get();
    }
    return nullptr;
}

void DNAreaSelector::selectAreaDidChanged()
{
    emit areaSelectDidChanged(this);
}

QRectF DNAreaSelector::constraintForSelectArea(const QRectF& rect)
{
    return rect;
}

QRectF DNAreaSelector::flipped(const QRectF& rect) const
{
    return { rect.x(), height() - rect.y() - rect.height(), rect.width(), rect.height() };
}

QPointF DNAreaSelector::viewPoint(const QPointF& widgetPoint) const
{
    return { widgetPoint.x(), height() - widgetPoint.y() };
}

void DNAreaSelector::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawRect(painter);
}

void DNAreaSelector::drawRect(QPainter& painter)
{
    drawCells(painter);
}

void DNAreaSelector::drawCells(QPainter& painter)
{
    // The centre comes last, so its outline and shade lie over the handles'
    // surroundings; a view that cannot be edited shows only the centre.
    const CellList& cells = controlCells();
    if (!m_editabled) {
        cells.back()->drawCellInView(painter, *this);
        return;
    }
    for (const auto& cell : cells)
        cell->drawCellInView(painter, *this);
}

void DNAreaSelector::resetCursorRects(const QPointF& point)
{
    const DNDragCell* cell = m_editabled ? hitCellTest(point) : nullptr;
    if (cell)
        setCursor(cell->cursorForMouseEnter());
    else
        unsetCursor();
}

void DNAreaSelector::mousePressEvent(QMouseEvent* event)
{
    if (!m_editabled || event->button() != Qt::LeftButton)
        return;
    const QPointF point = viewPoint(event->position());
    m_touchCell = hitCellTest(point);
    if (!m_touchCell)
        return;
    QGuiApplication::setOverrideCursor(m_touchCell->cursorForMouseDown());
    m_previousPoint = point;
}

void DNAreaSelector::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF point = viewPoint(event->position());
    if (!m_touchCell) {
        resetCursorRects(point);
        return;
    }
    // The mouse's own movement, whether or not the step was accepted: a
    // refused step is lost, so the handle lags when the mouse comes back.
    updateAreaSelection(point - m_previousPoint, m_touchCell);
    m_previousPoint = point;
}

void DNAreaSelector::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_touchCell || event->button() != Qt::LeftButton)
        return;
    m_touchCell = nullptr;
    QGuiApplication::restoreOverrideCursor();
    resetCursorRects(viewPoint(event->position()));
}
