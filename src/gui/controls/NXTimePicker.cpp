#include "controls/NXTimePicker.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QPainter>
#include <QStyleOption>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

constexpr double kFieldWidth = 20;
constexpr double kFieldHeight = 21;
constexpr double kFieldPitch = 28;
constexpr double kStepperWidth = 16;
// A second between two digits joins them into one number.
constexpr double kTypingPause = 1.0;
constexpr int kDelayedActionMs = 1000;

// The fields live in 32-bit integers; their sums wrap as such rather than
// overflowing, so an absurd hour count cannot crash the editor.
int32_t wrapped(int64_t value)
{
    return static_cast<int32_t>(value);
}

} // namespace

int32_t NXTimeCell::timeSecond2TotalSeconds() const
{
    return wrapped(int64_t(hours) * 3600 + int64_t(minutes) * 60 + secends);
}

QString NXTimeCell::stringValue() const
{
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes).arg(secends);
}

void NXTimeCell::timeSecond2Splice(int32_t total)
{
    hours = total / 3600;
    minutes = (total - hours * 3600) / 60;
    secends = total - (total / 60) * 60;
}

void NXTimeCell::verificationTimeFormat()
{
    const int32_t total = timeSecond2TotalSeconds();
    if (total < 1) {
        hours = minutes = secends = 0;
        return;
    }
    timeSecond2Splice(total);
}

int32_t NXTimeCell::selectionValue() const
{
    switch (selectIndex) {
    case 0:
        return hours;
    case 1:
        return minutes;
    default:
        return secends;
    }
}

void NXTimeCell::setSelectionValue(int32_t value)
{
    switch (selectIndex) {
    case 0:
        hours = value;
        break;
    case 1:
        minutes = value;
        break;
    default:
        secends = value;
        break;
    }
    verificationTimeFormat();
}

void NXTimeCell::autoIncrement(int32_t amount)
{
    setSelectionValue(wrapped(int64_t(selectionValue()) + amount));
}

void NXTimeCell::autoDecrement(int32_t amount)
{
    setSelectionValue(wrapped(int64_t(selectionValue()) - amount));
}

void NXTimeCell::moveLeft()
{
    selectIndex = selectIndex <= 0 ? 2 : selectIndex - 1;
    eventTimeInterval = 0;
}

void NXTimeCell::moveRight()
{
    selectIndex = selectIndex < 0 || selectIndex >= 2 ? 0 : selectIndex + 1;
    eventTimeInterval = 0;
}

QRectF NXTimeCell::timeRectWidhtIndex(int index, double width) const
{
    double x = 5 + kFieldPitch * index;
    if (alignment == 2) {
        x = (index - 1.5) * kFieldPitch + width / 2 - (cellPickerStyle == 1 ? 8 : 0);
    } else if (alignment == 1) {
        const double usable = cellPickerStyle == 1 ? width - 21 : width;
        x = usable - (3 - index) * kFieldPitch;
    }
    return { x, 0, kFieldWidth, kFieldHeight };
}

QRectF NXTimeCell::selectionRect(double width) const
{
    if (selectIndex < 0 || selectIndex > 2)
        return {};
    return timeRectWidhtIndex(selectIndex, width);
}

namespace {

// What assistive technology sees of a picker: its value as text, and the
// stepper's two actions, which change the selected field without sending.
class NXTimePickerAccessible : public QAccessibleWidget {
public:
    explicit NXTimePickerAccessible(NXTimePicker* picker)
        : QAccessibleWidget(picker, QAccessible::SpinBox, QStringLiteral("Time Picker"))
    { }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return picker()->stringValue();
        if (kind == QAccessible::Description)
            return QStringLiteral("Time Picker");
        return QAccessibleWidget::text(kind);
    }

    QStringList actionNames() const override { return { increaseAction(), decreaseAction() }; }

    QString localizedActionDescription(const QString& action) const override
    {
        if (action == increaseAction())
            return QStringLiteral("Increment");
        if (action == decreaseAction())
            return QStringLiteral("Decrement");
        return QAccessibleWidget::localizedActionDescription(action);
    }

    void doAction(const QString& action) override
    {
        if (action == increaseAction())
            picker()->moveUp();
        else if (action == decreaseAction())
            picker()->moveDown();
    }

private:
    NXTimePicker* picker() const { return static_cast<NXTimePicker*>(widget()); }
};

QAccessibleInterface* timePickerAccessible(const QString& className, QObject* object)
{
    if (className != QLatin1String("NXTimePicker") || !object || !object->isWidgetType())
        return nullptr;
    // Qt's accessibility cache owns the interface.
    return new NXTimePickerAccessible(static_cast<NXTimePicker*>(object));
}

} // namespace

NXTimePicker::NXTimePicker(QWidget* parent)
    : QWidget(parent)
    , m_delayedAction(new QTimer(this))
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(timePickerAccessible);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    m_cell.cellPickerStyle = 1;
    m_delayedAction->setSingleShot(true);
    m_delayedAction->setInterval(kDelayedActionMs);
    m_delayedAction->setObjectName(QStringLiteral("delayedAction"));
    connect(m_delayedAction, &QTimer::timeout, this, &NXTimePicker::fire2SendAction);
    setFocusPolicy(Qt::StrongFocus);
}

QSize NXTimePicker::sizeHint() const
{
    return { 100 + (m_cell.cellPickerStyle == 1 ? int(kStepperWidth) : 0), int(kFieldHeight) };
}

void NXTimePicker::setDoubleValue(double value)
{
    // Whole seconds, rounded up: a trim end at 59.2 s must keep the last frame.
    const double seconds = std::clamp(std::ceil(value), double(INT_MIN), double(INT_MAX));
    setIntegerValue(static_cast<int32_t>(std::isnan(seconds) ? 0 : seconds));
}

void NXTimePicker::setIntegerValue(int32_t value)
{
    m_cell.timeSecond2Splice(value);
    checkTimeValue();
    update();
}

void NXTimePicker::setHours(int32_t value)
{
    m_cell.hours = value;
    update();
}

void NXTimePicker::setMinutes(int32_t value)
{
    m_cell.minutes = value;
    update();
}

void NXTimePicker::setSecends(int32_t value)
{
    m_cell.secends = value;
    update();
}

void NXTimePicker::checkTimeValue()
{
    // The minimum is tested first, so it wins when the limits cross; no
    // duration is below zero.
    const int32_t value = integerValue();
    const int32_t least = std::max(minValue_, 0);
    if (value < least)
        m_cell.timeSecond2Splice(least);
    else if (value > maxValue_)
        m_cell.timeSecond2Splice(std::max(maxValue_, least));
}

void NXTimePicker::setPickerStyle(int32_t style)
{
    m_cell.cellPickerStyle = style;
    updateGeometry();
    update();
}

void NXTimePicker::setAlignment(int32_t alignment)
{
    m_cell.alignment = alignment;
    update();
}

void NXTimePicker::moveLeft()
{
    m_cell.moveLeft();
    update();
}

void NXTimePicker::moveRight()
{
    m_cell.moveRight();
    update();
}

void NXTimePicker::moveUp()
{
    m_cell.autoIncrement(1);
    m_cell.eventTimeInterval = 0;
    update();
}

void NXTimePicker::moveDown()
{
    m_cell.autoDecrement(1);
    m_cell.eventTimeInterval = 0;
    update();
}

bool NXTimePicker::hasAction() const
{
    return isSignalConnected(QMetaMethod::fromSignal(&NXTimePicker::actionTriggered));
}

void NXTimePicker::sendActionToTarget()
{
    if (!hasAction())
        return;
    m_limitedFrom.reset();
    emit actionTriggered(this);
}

void NXTimePicker::fire2SendAction()
{
    if (!hasAction())
        return;
    const int32_t given = integerValue();
    checkTimeValue();
    m_limitedFrom = given != integerValue() ? std::optional(given) : std::nullopt;
    emit actionTriggered(this);
    update();
}

void NXTimePicker::stepperAction(double value)
{
    if (value > m_stepperValue)
        m_cell.autoIncrement(1);
    else
        m_cell.autoDecrement(1);
    m_stepperValue = value;
    update();
}

void NXTimePicker::scheduleDelayedAction()
{
    m_delayedAction->start();
}

void NXTimePicker::typeDigit(int digit, double timeStamp)
{
    const bool startsAfresh
        = timeStamp - m_cell.eventTimeInterval > kTypingPause || m_cell.selectionValue() > 5;
    if (startsAfresh) {
        m_cell.setSelectionValue(digit);
        scheduleDelayedAction();
    } else {
        // The second digit completes the field: nothing more can follow.
        m_cell.setSelectionValue(m_cell.selectionValue() * 10 + digit);
        m_delayedAction->stop();
        fire2SendAction();
    }
    m_cell.eventTimeInterval = timeStamp;
    update();
}

void NXTimePicker::keyPressEvent(QKeyEvent* event)
{
    if (!isEnabled())
        return;
    const int key = event->key();
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        typeDigit(key - Qt::Key_0, event->timestamp() / 1000.0);
        return;
    }
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // The typed time is sent now; the key does not reach the window's
        // default button.
        m_delayedAction->stop();
        fire2SendAction();
        return;
    case Qt::Key_Left:
        m_cell.moveLeft();
        break;
    case Qt::Key_Right:
    case Qt::Key_Tab:
    case Qt::Key_Space:
        m_cell.moveRight();
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (key == Qt::Key_Up)
            moveUp();
        else
            moveDown();
        checkTimeValue();
        fire2SendAction();
        update();
        return;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    checkTimeValue();
    update();
}

bool NXTimePicker::focusNextPrevChild(bool)
{
    return false;
}

QRectF NXTimePicker::stepperRect() const
{
    return { width() - kStepperWidth, 0, kStepperWidth, kFieldHeight };
}

void NXTimePicker::mousePressEvent(QMouseEvent* event)
{
    if (!isEnabled() || event->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    const QPointF point = event->position();
    if (m_cell.cellPickerStyle == 1 && stepperRect().contains(point)) {
        // The stepper sends at once; its field is normalised but not limited.
        if (point.y() < kFieldHeight / 2)
            m_cell.autoIncrement(1);
        else
            m_cell.autoDecrement(1);
        sendActionToTarget();
        update();
        return;
    }
    m_cell.selectIndex = -1;
    for (int index = 0; index < 3; ++index) {
        if (m_cell.timeRectWidhtIndex(index, width()).contains(point)) {
            m_cell.selectIndex = index;
            break;
        }
    }
    update();
}

void NXTimePicker::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double stepper = m_cell.cellPickerStyle == 1 ? kStepperWidth : 0;
    const QRectF textArea(0, 0, width() - stepper, height());
    painter.fillRect(textArea, Qt::white);
    const QRectF selection = m_cell.selectionRect(width()).adjusted(0, 2, 0, -2);
    if (!selection.isNull()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        painter.drawRoundedRect(selection, 5, 5);
    }
    drawFields(painter, textArea);
    if (stepper > 0)
        drawStepper(painter, textArea);
    // A thin dark border with a soft line under it, in place of a frame.
    painter.setClipRect(textArea);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1));
    painter.drawRect(textArea.adjusted(0.5, 1.5, -0.5, -0.5));
    painter.setPen(QPen(Qt::darkGray, 0));
    painter.drawRect(textArea.adjusted(0.5, 0.5, -0.5, -1.5));
}

void NXTimePicker::drawFields(QPainter& painter, const QRectF& textArea)
{
    QFont font = this->font();
    font.setPointSizeF(11);
    painter.setFont(font);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const int32_t values[] = { m_cell.hours, m_cell.minutes, m_cell.secends };
    const QFontMetricsF metrics(font);
    double previousEnd = 0;
    for (int index = 0; index < 3; ++index) {
        const QString text = QStringLiteral("%1").arg(values[index], 2, 10, QLatin1Char('0'));
        const QRectF field = m_cell.timeRectWidhtIndex(index, width());
        const double textWidth = metrics.horizontalAdvance(text);
        const double start = field.center().x() - textWidth / 2;
        if (index > 0) {
            // The colon sits halfway between the two numbers.
            const double colon = metrics.horizontalAdvance(QLatin1Char(':'));
            const QRectF colonRect((previousEnd + start - colon) / 2, field.y(), colon,
                std::min(field.height(), textArea.height()));
            painter.drawText(colonRect, Qt::AlignCenter, QStringLiteral(":"));
        }
        painter.drawText(field, Qt::AlignCenter, text);
        previousEnd = start + textWidth;
    }
}

void NXTimePicker::drawStepper(QPainter& painter, const QRectF& textArea)
{
    QStyleOption option;
    option.initFrom(this);
    const QRectF stepper(textArea.width(), 0, kStepperWidth, kFieldHeight);
    option.rect = stepper.adjusted(0, 0, 0, -kFieldHeight / 2).toRect();
    style()->drawPrimitive(QStyle::PE_IndicatorSpinUp, &option, &painter, this);
    option.rect = stepper.adjusted(0, kFieldHeight / 2, 0, 0).toRect();
    style()->drawPrimitive(QStyle::PE_IndicatorSpinDown, &option, &painter, this);
}
