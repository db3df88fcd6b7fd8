#include "controls/NXPathField.h"

#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// QLineEdit keeps this much room on each side of its text.
constexpr int kTextMargin = 2;
// Characters the field wants to show, and at the least.
constexpr int kWantedCharacters = 40;
constexpr int kLeastCharacters = 24;

} // namespace

NXPathField::NXPathField(QWidget* parent)
    : QLineEdit(parent)
{
    setReadOnly(true);
}

void NXPathField::setPath(const QString& path)
{
    m_path = path;
    setToolTip(path);
    showPath();
}

QSize NXPathField::sizeHint() const
{
    return { fontMetrics().averageCharWidth() * kWantedCharacters, QLineEdit::sizeHint().height() };
}

QSize NXPathField::minimumSizeHint() const
{
    return { fontMetrics().averageCharWidth() * kLeastCharacters,
        QLineEdit::minimumSizeHint().height() };
}

void NXPathField::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    showPath();
}

void NXPathField::showPath()
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect text = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    const int room = text.width() - 2 * kTextMargin;
    setText(fontMetrics().elidedText(m_path, Qt::ElideLeft, std::max(room, 0)));
    setCursorPosition(0);
}
