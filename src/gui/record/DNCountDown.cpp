#include "record/DNCountDown.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

constexpr QSize kCountdownSize { 300, 200 };

} // namespace

DNBGView::DNBGView(QWidget* parent)
    : QWidget(parent)
{ }

void DNBGView::setNumber(int number)
{
    m_number = number;
    update();
}

void DNBGView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.6f));
    painter.drawRoundedRect(QRectF(rect()), 20, 20);
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSize(80);
    painter.setFont(font);
    painter.setPen(Qt::red);
    painter.drawText(rect(), Qt::AlignCenter, QString::number(m_number));
}

DNCountDown::DNCountDown(int tickMs)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_DeleteOnClose);
    // While it counts, the recorder and main windows are hidden: its close
    // must not count as the application's last window closing.
    setAttribute(Qt::WA_QuitOnClose, false);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize screenSize = screen ? screen->geometry().size() : QSize();
    setGeometry(QRect(QPoint((screenSize.width() - kCountdownSize.width()) / 2,
                          (screenSize.height() - kCountdownSize.height()) / 2),
        kCountdownSize));
    m_reserve = new DNBGView(this);
    m_reserve->setGeometry(QRect(QPoint(0, 0), kCountdownSize));
    m_countdownTimer = new QTimer(this);
    m_countdownTimer->setInterval(tickMs);
    connect(m_countdownTimer, &QTimer::timeout, this, &DNCountDown::tick);
}

void DNCountDown::setCountDownNumber(int number)
{
    m_reserve->setNumber(number);
}

int DNCountDown::countDownNumber() const
{
    return m_reserve->number();
}

void DNCountDown::displayCountdown()
{
    show();
    raise();
    activateWindow();
    m_countdownTimer->start();
}

void DNCountDown::tick()
{
    const int next = m_reserve->number() - 1;
    if (next >= 1) {
        m_reserve->setNumber(next);
        return;
    }
    m_reserve->setNumber(0);
    m_countdownTimer->stop();
    if (m_action)
        m_action();
    close();
}
