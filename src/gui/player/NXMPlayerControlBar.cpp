#include "player/NXMPlayerControlBar.h"

#include "controls/NXSlider.h"
#include "player/NXMPlayerView.h"

#include <QPainter>

namespace {

// The slider leaves this much room at either end of the bar.
constexpr int kSliderMargin = 50;

} // namespace

NXMPlayerControlBar::NXMPlayerControlBar(NXMPlayerView& target)
    : QWidget(&target)
    , m_target(target)
{
    setGeometry(0, target.height() - kHeight, target.width(), kHeight);
    initControlSence();
}

void NXMPlayerControlBar::initControlSence()
{
    m_durationSlider = new NXSlider(this);
    m_durationSlider->setFillColor(Qt::yellow);
    m_durationSlider->setMinValue(0);
    m_durationSlider->setGeometry(kSliderMargin, 0, width() - 2 * kSliderMargin, kHeight);
    connect(m_durationSlider, &NXSlider::actionTriggered, &m_target,
        &NXMPlayerView::onDurationValueChange);
}

void NXMPlayerControlBar::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), QColor(0x20, 0x20, 0x20));
}

void NXMPlayerControlBar::resizeEvent(QResizeEvent*)
{
    m_durationSlider->setGeometry(kSliderMargin, 0, width() - 2 * kSliderMargin, kHeight);
}
