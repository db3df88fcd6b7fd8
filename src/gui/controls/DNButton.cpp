#include "controls/DNButton.h"

#include "platform/AppPaths.h"

#include <QFileInfo>
#include <QIcon>
#include <QMouseEvent>

DNButton::DNButton(QWidget* parent)
    : QPushButton(parent)
{
    setFlat(true);
}

void DNButton::setNormalImage(const QPixmap& image)
{
    m_normalImage = image;
    m_showingHighlight = false;
    showImage(image);
}

void DNButton::setHighlightImage(const QPixmap& image)
{
    m_highlightImage = image;
}

bool DNButton::setHighlightImageName(const QString& name)
{
    const QString folder = AppPaths::resourcesFolder() + QStringLiteral("/images/");
    const QString path
        = QFileInfo(name).suffix().isEmpty() ? folder + name + ".png" : folder + name;
    const QPixmap image(path);
    if (image.isNull())
        return false;
    setHighlightImage(image);
    return true;
}

void DNButton::showImage(const QPixmap& image)
{
    setIcon(QIcon(image));
    if (!image.isNull())
        setIconSize(image.size());
}

void DNButton::enterEvent(QEnterEvent* event)
{
    QPushButton::enterEvent(event);
    if (m_highlightImage.isNull() || !isEnabled())
        return;
    m_showingHighlight = true;
    showImage(m_highlightImage);
}

void DNButton::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    if (!m_showingHighlight)
        return;
    m_showingHighlight = false;
    showImage(m_normalImage);
}

void DNButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && isEnabled())
        emit mouseDown(this);
    QPushButton::mousePressEvent(event);
}
