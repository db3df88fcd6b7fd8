#include "record/DNAreaSelectWindow.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double kHandleSize = 12;
constexpr double kKnobSize = 10;
// The button's least size; it grows with its text (a translation may be longer).
constexpr QSize kDoneButtonSize { 130, 38 };
constexpr int kDoneButtonPadding = 12;
constexpr int kHideDelayMs = 100;

// Where each handle's centre lies on the selection, as fractions of its width
// and height (y grows upward), in tag order 1 to 8.
constexpr std::array<QPointF, 8> kHandlePlaces { {
    { 0, 1 },
    { 0.5, 1 },
    { 1, 1 },
    { 0, 0.5 },
    { 1, 0.5 },
    { 0, 0 },
    { 0.5, 0 },
    { 1, 0 },
} };

} // namespace

void DNWindowDragCell::drawCellInView(QPainter& painter, const DNAreaSelector& view) const
{
    const QPointF centre = view.flipped(frame()).center();
    const QRectF knob(centre.x() - kKnobSize / 2, centre.y() - kKnobSize / 2, kKnobSize, kKnobSize);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::gray);
    painter.drawEllipse(knob);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(knob.adjusted(2, 2, -2, -2));
    painter.restore();
}

void DNWindowCenterCell::drawCellInView(QPainter& painter, const DNAreaSelector& view) const
{
    drawDashedOutline(painter, view, Qt::black);
    drawShelteInView(painter, view);
}

void DNWindowCenterCell::drawShelteInView(QPainter& painter, const DNAreaSelector& view) const
{
    const QRectF area = view.flipped(frame());
    QPainterPath shade;
    shade.setFillRule(Qt::OddEvenFill);
    shade.addRect(QRectF(view.rect()));
    shade.addRect(area);
    painter.fillPath(shade, QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.6f));
    // The label sits right of the selection, level with its lower edge.
    const QString size = QStringLiteral("%1\n%2")
                             .arg(qRound(std::abs(frame().width())))
                             .arg(qRound(std::abs(frame().height())));
    QFont font = painter.font();
    font.setPointSize(8);
    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::red);
    painter.drawText(QRectF(area.right() + 5, area.bottom() - 25, 60, 30), Qt::AlignLeft, size);
    painter.restore();
}

DNWindowSelectView::DNWindowSelectView(const QRect& frame, QWidget* parent)
    : DNAreaSelector(frame, parent)
{
    creatWidgetInCenterArea();
}

void DNWindowSelectView::creatWidgetInCenterArea()
{
    // The button only hands the region to the recorder window, where the
    // recording is started.
    m_done = new QPushButton(tr("Use This Region"), this);
    m_done->setObjectName(QStringLiteral("useRegion"));
    m_done->setFlat(true);
    QFont font = m_done->font();
    font.setBold(true);
    font.setPointSize(13);
    m_done->setFont(font);
    m_done->setStyleSheet(
        QStringLiteral("QPushButton { color: white; border: 1.5px solid white; border-radius: 12px;"
                       " background-color: rgb(51, 51, 51); padding: 0 %1px; }")
            .arg(kDoneButtonPadding));
    m_done->setFixedSize(m_done->sizeHint().expandedTo(kDoneButtonSize));
    connect(m_done, &QPushButton::clicked, this, &DNWindowSelectView::onDoneClicked);
    centreDoneButton();
}

void DNWindowSelectView::onDoneClicked()
{
    if (m_action)
        m_action();
}

void DNWindowSelectView::setSelectionArea(const QRectF& area)
{
    DNAreaSelector::setSelectionArea(area);
    centreDoneButton();
}

void DNWindowSelectView::centreDoneButton()
{
    if (!m_done)
        return;
    const QPointF centre = flipped(selectionArea()).center();
    m_done->move(
        qRound(centre.x() - m_done->width() / 2.0), qRound(centre.y() - m_done->height() / 2.0));
}

void DNWindowSelectView::refreshDragCellPosition()
{
    const CellList& cells = controlCells();
    const QRectF area = selectionArea();
    for (std::size_t index = 0; index < kHandlePlaces.size(); ++index) {
        const QPointF centre(area.x() + area.width() * kHandlePlaces[index].x(),
            area.y() + area.height() * kHandlePlaces[index].y());
        cells[index]->setCenter(centre, { kHandleSize, kHandleSize });
    }
    cells.back()->setFrame(area);
    update();
}

void DNWindowSelectView::checkSelectionArea()
{
    QRectF area = selectionArea();
    const QSizeF limit = lowerLimitSize();
    if (area.width() < limit.width()) {
        area.setWidth(limit.width());
        area.moveLeft((width() - limit.width()) / 2);
    }
    if (area.height() < limit.height()) {
        area.setHeight(limit.height());
        area.moveTop((height() - limit.height()) / 2);
    }
    setSelectionArea(area);
    refreshDragCellPosition();
}

void DNWindowSelectView::updateCreateDragArea(const QPointF& pressPoint, const QPointF& dragPoint)
{
    const QRectF spanned(std::min(pressPoint.x(), dragPoint.x()),
        std::min(pressPoint.y(), dragPoint.y()), std::abs(dragPoint.x() - pressPoint.x()),
        std::abs(dragPoint.y() - pressPoint.y()));
    const QRectF bounds(0, 0, width(), height());
    // intersected() answers an empty rectangle at the origin for no overlap;
    // keep the degenerate one where it was, checkSelectionArea sizes it.
    const QRectF clipped = spanned.intersected(bounds);
    setSelectionArea(clipped.isNull() ? spanned : clipped);
    refreshDragCellPosition();
}

std::unique_ptr<DNDragCell> DNWindowSelectView::classOfDragCell() const
{
    return std::make_unique<DNWindowDragCell>();
}

std::unique_ptr<DNDragCell> DNWindowSelectView::classOfCenterDragArea() const
{
    return std::make_unique<DNWindowCenterCell>();
}

void DNWindowSelectView::drawRect(QPainter& painter)
{
    // The centre (with its shade) first, the handles over it.
    const CellList& cells = controlCells();
    for (auto cell = cells.rbegin(); cell != cells.rend(); ++cell)
        (*cell)->drawCellInView(painter, *this);
}

void DNWindowSelectView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF point = viewPoint(event->position());
    if (hitCellTest(point)) {
        DNAreaSelector::mousePressEvent(event);
        return;
    }
    m_creating = true;
    m_dragged = false;
    m_pressPoint = point;
    QGuiApplication::setOverrideCursor(Qt::CrossCursor);
}

void DNWindowSelectView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_creating) {
        DNAreaSelector::mouseMoveEvent(event);
        return;
    }
    m_dragged = true;
    updateCreateDragArea(m_pressPoint, viewPoint(event->position()));
}

void DNWindowSelectView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_creating) {
        DNAreaSelector::mouseReleaseEvent(event);
        return;
    }
    m_creating = false;
    // A plain click outside the selection leaves it as it was.
    if (m_dragged)
        checkSelectionArea();
    QGuiApplication::restoreOverrideCursor();
}

DNAreaSelectWindow::DNAreaSelectWindow(const QRect& screen, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
            | Qt::BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_QuitOnClose, false);
    setGeometry(screen);
    m_view = new DNWindowSelectView(QRect(QPoint(0, 0), screen.size()), this);
    m_view->setLowerLimitSize(kLowerLimit);
    // Centred, and no larger than a small screen (or one at a large scale).
    const QRectF initial((screen.width() - kInitialArea.width()) / 2,
        (screen.height() - kInitialArea.height()) / 2, kInitialArea.width(), kInitialArea.height());
    m_view->setSelectionArea(initial.intersected(QRectF(QPointF(0, 0), screen.size())));
    m_view->setAction([this] { onCropRectClicked(); });
    m_view->refresh();
}

QRectF DNAreaSelectWindow::selectionArea() const
{
    return m_view->selectionArea();
}

void DNAreaSelectWindow::keyPressEvent(QKeyEvent* event)
{
    // Other keys are swallowed: the picker is the only thing taking input.
    if (event->key() == Qt::Key_Escape)
        hide();
}

void DNAreaSelectWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.05f));
}

void DNAreaSelectWindow::onCropRectClicked()
{
    emit areaSelectDidFinished(this);
    QTimer::singleShot(kHideDelayMs, this, &QWidget::hide);
}

QRect screenRegionFromSelection(const QRectF& selection, const QRect& screen)
{
    const QRectF topLeft(selection.x(), screen.height() - selection.y() - selection.height(),
        selection.width(), selection.height());
    return topLeft.toRect().translated(screen.topLeft()).intersected(screen);
}
