#include "slideshow/DNEffectPreview.h"

#include "controls/DNButton.h"
#include "platform/DNLogger.h"
#include "slideshow/NXEffectManager.h"

#include <QCheckBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kFrameMilliseconds = 1000 / 30;
constexpr double kLegsPerSecond = 0.4;
const QString kBackgroundName = QStringLiteral("P2VThumbnail.png");
// The strip's size when its background is missing: one page of cells.
const QSize kPlainBackgroundSize(DNEffectPreview::kCellsPerPage* DNEffectPreview::kCellPitch, 100);

} // namespace

EffectPreview::EffectPreview(SlideshowClock clock, QWidget* parent)
    : QWidget(parent)
    , m_clock(std::move(clock))
{
    resize(kWidth, kHeight);
}

EffectPreview::~EffectPreview() = default;

void EffectPreview::setTransition(std::unique_ptr<NXTransitionFilter> filter)
{
    m_transition = std::move(filter);
}

void EffectPreview::startPreview()
{
    if (!m_transition || m_sourceImage.isNull() || m_targetImage.isNull() || m_timer)
        return;
    m_base = m_clock();
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_timer->start(kFrameMilliseconds);
}

void EffectPreview::stopPreview()
{
    delete m_timer;
}

QImage EffectPreview::imageAtTime(float seconds) const
{
    if (!m_transition || m_sourceImage.isNull() || m_targetImage.isNull())
        return {};
    // Even legs run from the source to the target, odd ones back.
    const bool forth = std::fmod(seconds, 2.0f) < 1.0f;
    const float leg = std::fmod(seconds, 1.0f);
    const auto time = static_cast<float>((1 - std::cos(std::numbers::pi_v<float> * leg)) / 2);
    return forth ? m_transition->render(m_sourceImage, m_targetImage, time)
                 : m_transition->render(m_targetImage, m_sourceImage, time);
}

void EffectPreview::paintEvent(QPaintEvent*)
{
    if (!m_timer)
        return;
    const double seconds = static_cast<double>(m_clock() - m_base) / 1000.0;
    const QImage frame = imageAtTime(static_cast<float>(seconds * kLegsPerSecond));
    QPainter(this).drawImage(0, 0, frame);
}

EffectPreviewWrapper::EffectPreviewWrapper(SlideshowClock clock, QWidget* parent)
    : QWidget(parent)
    , m_effectView(new EffectPreview(std::move(clock), this))
    , m_checkButton(new QCheckBox(this))
{
    resize(kWidth, kHeight);
    m_effectView->move(0, 0);
    m_checkButton->setGeometry(
        (kWidth - kCheckSize) / 2, kHeight - kCheckSize, kCheckSize, kCheckSize);
    connect(
        m_checkButton, &QCheckBox::toggled, this, &EffectPreviewWrapper::onCheckButtonStateChanged);
}

void EffectPreviewWrapper::setPreviewFilter(std::unique_ptr<NXTransitionFilter> filter)
{
    m_effectView->setTransition(std::move(filter));
}

void EffectPreviewWrapper::setDemoSourceImage(const QImage& source, const QImage& target)
{
    m_effectView->setSourceImage(source);
    m_effectView->setTargetImage(target);
}

bool EffectPreviewWrapper::state() const
{
    return m_checkButton->isChecked();
}

void EffectPreviewWrapper::setState(bool checked)
{
    const QSignalBlocker quiet(m_checkButton);
    m_checkButton->setChecked(checked);
}

void EffectPreviewWrapper::onCheckButtonStateChanged()
{
    if (m_host)
        m_host->onEffectsSelectChanged(this);
}

DNEffectPreview::DNEffectPreview(const QPoint& origin, QWidget* parent)
    : QWidget(parent)
{
    QPixmap background = slideshowResourceImage(kBackgroundName);
    if (background.isNull()) {
        // A broken installation still gets its transitions, on a plain strip.
        DNLog(QStringLiteral("can not find source named %1").arg(kBackgroundName));
        background = QPixmap(kPlainBackgroundSize);
        background.fill(QColor(70, 72, 78));
    }
    setGeometry(QRect(origin, background.size()));
    auto* label = new QLabel(this);
    label->setPixmap(background);
    label->setGeometry(rect());
    m_backgroundView = label;
}

void DNEffectPreview::setPrevieFilters(
    std::vector<std::unique_ptr<NXTransitionFilter>> filters, const QList<qint64>& selected)
{
    const auto count = static_cast<float>(filters.size());
    const auto pages = static_cast<float>(std::ceil(count / kCellsPerPage));
    m_contentView = new QWidget(this);
    m_contentView->setGeometry(
        0, 0, static_cast<int>(pages * kCellsPerPage * kCellPitch), m_backgroundView->height());
    const QImage shading = NXEffectManager::shadingImage();
    for (std::size_t index = 0; index < filters.size(); ++index) {
        const auto number = static_cast<qint64>(index);
        auto* cell = new EffectPreviewWrapper(m_clock, m_contentView);
        cell->move(static_cast<int>(number * kCellPitch + 6),
            m_contentView->height() - EffectPreviewWrapper::kHeight);
        if (filters[index])
            configureFilter(*filters[index], number, shading);
        cell->setHost(this);
        cell->setFilterIndex(number);
        cell->setPreviewFilter(std::move(filters[index]));
        if (m_demoImages.size() >= 2)
            cell->setDemoSourceImage(m_demoImages.first(), m_demoImages.last());
        cell->setState(selected.contains(number));
        m_cells << cell;
    }
    m_contentView->show();
    createLeftAndRightControl();
}

void DNEffectPreview::configureFilter(
    NXTransitionFilter& filter, qint64 filterIndex, const QImage& shading)
{
    const QRectF cellArea(0, 0, EffectPreview::kWidth, EffectPreview::kHeight);
    NXEffectManager::prepareFilterForShowing(filter, filterIndex, cellArea, shading);
}

void DNEffectPreview::createLeftAndRightControl()
{
    const auto makeButton = [this](const QString& image, int x) {
        auto* button = new DNButton(this);
        button->setNormalImage(slideshowResourceImage(image));
        button->setGeometry(x, 0, kPageButtonWidth, height());
        button->setIconSize(button->size());
        button->show();
        return button;
    };
    delete m_leftButton;
    delete m_rightButton;
    m_leftButton = makeButton(QStringLiteral("P2VEffectLeft.png"), 0);
    m_rightButton = makeButton(QStringLiteral("P2VEffectRight.png"), width() - kPageButtonWidth);
    connect(m_leftButton, &QPushButton::clicked, this, [this] { onSwitchPage(kLeftButtonTag); });
    connect(m_rightButton, &QPushButton::clicked, this, [this] { onSwitchPage(kRightButtonTag); });
}

DNButton* DNEffectPreview::pageButton(int tag) const
{
    return tag == kLeftButtonTag ? m_leftButton : tag == kRightButtonTag ? m_rightButton : nullptr;
}

void DNEffectPreview::setDemoImages(const QList<QImage>& images)
{
    m_demoImages = images;
    if (images.isEmpty())
        return;
    for (EffectPreviewWrapper* cell : std::as_const(m_cells))
        cell->setDemoSourceImage(images.first(), images.last());
}

void DNEffectPreview::startPreview()
{
    checkAnimatedByPosition();
}

void DNEffectPreview::stopPreview()
{
    for (EffectPreviewWrapper* cell : std::as_const(m_cells))
        cell->stopPreview();
    m_cells.clear();
    delete m_pageMove;
    delete m_contentView;
}

bool DNEffectPreview::hasPageAtDirection(int tag) const
{
    if (!m_contentView || width() <= 0)
        return false;
    const double stripWidth = width();
    const auto page = std::lround(std::abs(m_contentView->x()) / stripWidth);
    const auto pages = std::lround(m_contentView->width() / stripWidth);
    return tag == kLeftButtonTag ? page > 0 : page < pages - 1;
}

void DNEffectPreview::checkAnimatedByPosition()
{
    if (!m_contentView)
        return;
    const QRect visible(std::abs(m_contentView->x()), m_contentView->y(), width(), height());
    for (EffectPreviewWrapper* cell : std::as_const(m_cells)) {
        if (visible.contains(cell->geometry().center()))
            cell->startPreview();
        else
            cell->stopPreview();
    }
    if (m_leftButton)
        m_leftButton->setVisible(hasPageAtDirection(kLeftButtonTag));
    if (m_rightButton)
        m_rightButton->setVisible(hasPageAtDirection(kRightButtonTag));
}

void DNEffectPreview::onSwitchPage(int tag)
{
    switchEffectPreviewPage(tag == kRightButtonTag);
}

void DNEffectPreview::switchEffectPreviewPage(bool towardsRight)
{
    if (!m_contentView)
        return;
    const auto stripWidth = static_cast<float>(width());
    const float page
        = static_cast<float>(m_contentView->x()) / stripWidth + (towardsRight ? -1 : 1);
    const int lastPage = width() - m_contentView->width();
    moveContentTo(std::max(std::min(0, static_cast<int>(page * stripWidth)), lastPage));
}

void DNEffectPreview::moveContentTo(int x)
{
    delete m_pageMove;
    m_pageMove = new QPropertyAnimation(m_contentView, "pos", this);
    m_pageMove->setDuration(kPageMoveMilliseconds);
    m_pageMove->setEndValue(QPoint(x, m_contentView->y()));
    connect(
        m_pageMove, &QAbstractAnimation::finished, this, &DNEffectPreview::checkAnimatedByPosition);
    m_pageMove->start(QAbstractAnimation::DeleteWhenStopped);
}

void DNEffectPreview::onEffectsSelectChanged(EffectPreviewWrapper*)
{
    QList<qint64> selected;
    for (qsizetype position = 0; position < m_cells.size(); ++position)
        if (m_cells.at(position)->state())
            selected << position;
    emit effectsSelectionChanged(selected);
}

void DNEffectPreview::mousePressEvent(QMouseEvent* event)
{
    m_dragStart = event->position().toPoint();
}

void DNEffectPreview::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_contentView)
        return;
    const QPoint position = event->position().toPoint();
    const int moved = position.x() - m_dragStart.x();
    // The content follows the pointer at half its speed.
    const auto dx = static_cast<int>(std::lround(moved * 0.5));
    m_contentView->move(m_contentView->x() + dx, m_contentView->y());
    m_dragStart = position;
    if (moved != 0)
        m_direction = moved < 0 ? -1 : 1;
}

void DNEffectPreview::mouseReleaseEvent(QMouseEvent*)
{
    const int direction = std::exchange(m_direction, 0);
    if (!m_contentView || direction == 0)
        return;
    const double stripWidth = width();
    const double pages = m_contentView->x() / stripWidth;
    if (direction < 0) {
        const int lastPage = width() - m_contentView->width();
        moveContentTo(std::max(static_cast<int>(std::floor(pages) * stripWidth), lastPage));
    } else {
        moveContentTo(std::min(static_cast<int>(std::ceil(pages) * stripWidth), 0));
    }
}
