#pragma once

#include "slideshow/SlideshowSupport.h"

#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class DNButton;
class DNEffectPreview;
class NXTransitionFilter;
class QCheckBox;

// One transition played forth and back between two demo images, eased, one
// leg every 2.5 seconds.
class EffectPreview : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 98;
    static constexpr int kHeight = 75;

    EffectPreview(SlideshowClock clock, QWidget* parent);
    ~EffectPreview() override;

    NXTransitionFilter* transition() const { return m_transition.get(); }
    void setTransition(std::unique_ptr<NXTransitionFilter> filter);
    void setSourceImage(const QImage& image) { m_sourceImage = image; }
    void setTargetImage(const QImage& image) { m_targetImage = image; }

    // Does nothing without a filter and both images.
    void startPreview();
    void stopPreview();
    bool isAnimating() const { return m_timer != nullptr; }
    // The frame `seconds` after the start; null without both images.
    QImage imageAtTime(float seconds) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SlideshowClock m_clock;
    std::unique_ptr<NXTransitionFilter> m_transition;
    QImage m_sourceImage;
    QImage m_targetImage;
    qint64 m_base = 0;
    QPointer<QTimer> m_timer;
};

// One cell of the strip: the preview above, its check box below it.
class EffectPreviewWrapper : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 98;
    static constexpr int kHeight = 95;
    static constexpr int kCheckSize = 20;

    EffectPreviewWrapper(SlideshowClock clock, QWidget* parent);

    void setPreviewFilter(std::unique_ptr<NXTransitionFilter> filter);
    void setDemoSourceImage(const QImage& source, const QImage& target);
    void startPreview() { m_effectView->startPreview(); }
    void stopPreview() { m_effectView->stopPreview(); }
    bool state() const;
    void setState(bool checked);

    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    DNEffectPreview* host() const { return m_host; }
    void setHost(DNEffectPreview* host) { m_host = host; }
    qint64 filterIndex() const { return m_filterIndex; }
    void setFilterIndex(qint64 index) { m_filterIndex = index; }
    EffectPreview* effectView() const { return m_effectView; }
    QCheckBox* checkButton() const { return m_checkButton; }

private:
    void onCheckButtonStateChanged();

    QString m_name;
    QPointer<DNEffectPreview> m_host;
    qint64 m_filterIndex = 0;
    EffectPreview* m_effectView;
    QCheckBox* m_checkButton;
};

// The strip of transition previews, five to a page: a page turns with the
// buttons at both ends or by dragging, and only the cells of the page in view
// animate.
class DNEffectPreview : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCellPitch = 104;
    static constexpr int kCellsPerPage = 5;
    static constexpr int kPageButtonWidth = 20;
    static constexpr int kLeftButtonTag = 888;
    static constexpr int kRightButtonTag = 889;
    static constexpr int kPageMoveMilliseconds = 400;

    explicit DNEffectPreview(const QPoint& origin, QWidget* parent = nullptr);

    // The clock the cells animate by; set before filling.
    void setClock(SlideshowClock clock) { m_clock = std::move(clock); }
    // One cell per filter, the filter of cell i prepared for transition i;
    // the cells whose number is in `selected` are ticked.
    void setPrevieFilters(
        std::vector<std::unique_ptr<NXTransitionFilter>> filters, const QList<qint64>& selected);
    // The first and the last image are the cells' demo pictures.
    void setDemoImages(const QList<QImage>& images);
    void startPreview();
    // Stops every cell and takes the cells away.
    void stopPreview();

    QWidget* contentView() const { return m_contentView; }
    const QList<EffectPreviewWrapper*>& cells() const { return m_cells; }
    DNButton* pageButton(int tag) const;
    // The running page move, null when the strip stands still.
    QPropertyAnimation* pageMove() const { return m_pageMove; }
    bool hasPageAtDirection(int tag) const;
    void onSwitchPage(int tag);
    // A cell's check box changed: the selection goes to the delegate.
    void onEffectsSelectChanged(EffectPreviewWrapper* cell);

signals:
    // The numbers of the ticked cells, in order.
    void effectsSelectionChanged(const QList<qint64>& selected);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void createLeftAndRightControl();
    void configureFilter(NXTransitionFilter& filter, qint64 filterIndex, const QImage& shading);
    void checkAnimatedByPosition();
    void switchEffectPreviewPage(bool towardsRight);
    void moveContentTo(int x);

    SlideshowClock m_clock = steadyClock();
    QWidget* m_backgroundView = nullptr;
    QPointer<QWidget> m_contentView;
    QList<EffectPreviewWrapper*> m_cells;
    QList<QImage> m_demoImages;
    DNButton* m_leftButton = nullptr;
    DNButton* m_rightButton = nullptr;
    QPointer<QPropertyAnimation> m_pageMove;
    QPoint m_dragStart;
    int m_direction = 0;
};
