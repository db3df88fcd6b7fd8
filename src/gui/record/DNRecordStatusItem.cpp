#include "record/DNRecordStatusItem.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSystemTrayIcon>

namespace {

// A red recording dot: the tray needs an icon, and we ship none for it.
QIcon recordingIcon()
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::red);
    painter.drawEllipse(QRectF(3, 3, 16, 16));
    return QIcon(pixmap);
}

} // namespace

DNRecordStatusItem::DNRecordStatusItem(const QRect& screen, QObject* parent)
    : QObject(parent)
    , m_screen(screen)
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        buildTrayIcon();
    else
        buildWindow();
}

DNRecordStatusItem::~DNRecordStatusItem() = default;

void DNRecordStatusItem::buildTrayIcon()
{
    m_tray = std::make_unique<QSystemTrayIcon>(recordingIcon());
    m_tray->setToolTip(QStringLiteral("ScreenRecorder"));
    auto* menu = new QMenu();
    connect(m_tray.get(), &QObject::destroyed, menu, &QObject::deleteLater);
    m_elapsedAction = menu->addAction(QString());
    m_elapsedAction->setEnabled(false);
    menu->addAction(tr("Stop"), this, &DNRecordStatusItem::stopClicked);
    m_tray->setContextMenu(menu);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this] { emit stopClicked(); });
    m_tray->show();
}

void DNRecordStatusItem::buildWindow()
{
    // Past the window manager, as the frame is: a managed window stays below it.
    m_window = std::make_unique<QWidget>(nullptr,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
            | Qt::WindowDoesNotAcceptFocus | Qt::BypassWindowManagerHint);
    m_window->setWindowTitle(QStringLiteral("ScreenRecorder"));
    m_window->setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QHBoxLayout(m_window.get());
    // As wide as the longest time it shows, so that the window keeps its size.
    m_elapsedLabel = new QLabel(m_window.get());
    m_elapsedLabel->setMinimumWidth(
        m_elapsedLabel->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")));
    auto* stop = new QPushButton(tr("Stop"), m_window.get());
    stop->setObjectName(QStringLiteral("statusStop"));
    connect(stop, &QPushButton::clicked, this, &DNRecordStatusItem::stopClicked);
    layout->addWidget(m_elapsedLabel);
    layout->addWidget(stop);
    placeWindow();
    m_window->show();
    m_window->raise();
}

void DNRecordStatusItem::placeWindow()
{
    m_window->adjustSize();
    const QSize size = m_window->size();
    m_window->move(m_screen.x() + m_screen.width() - size.width(), m_screen.y());
}

void DNRecordStatusItem::setElapsedText(const QString& text)
{
    m_elapsed = text;
    if (m_elapsedAction)
        m_elapsedAction->setText(text);
    if (m_tray)
        m_tray->setToolTip(text);
    if (!m_elapsedLabel)
        return;
    m_elapsedLabel->setText(text);
    // Past 99 hours the time grows; the window's right edge stays put.
    placeWindow();
}
