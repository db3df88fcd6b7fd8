#pragma once

#include "slideshow/SlideshowSupport.h"

#include <QImage>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <optional>

class NXTransitionFilter;
class SlideImageView;

// The editor's live preview: one photo at a time on black, each change drawn
// as a one-second transition of the catalogue's filters, frame by frame at the
// view's size.
class SlideshowView : public QWidget {
    Q_OBJECT
public:
    static constexpr qint64 kTransitionMilliseconds = 1000;
    static constexpr int kFramesPerSecond = 30;

    explicit SlideshowView(QWidget* parent = nullptr);

    void setClock(SlideshowClock clock) { m_clock = std::move(clock); }

    // Changes to the image through the next transition; a null image leaves
    // the view black.
    void transitionToImage(const QImage& image);
    // Shows the image at once, without a transition.
    void displayDefaultImage(const QImage& image);
    // The transitions the next changes draw from; an empty list means none.
    void setAllowTransitionStyles(const QList<qint64>& styles);
    std::optional<QList<qint64>> allowTransitionStyles() const { return m_allowTransitionStyles; }
    int transitionStyle() const { return m_transitionStyle; }
    void setTransitionStyle(int style);
    // Empties the view.
    void clear();

    QImage currentImage() const { return m_currentImage; }
    bool isTransitioning() const { return m_frameTimer.isActive(); }
    SlideImageView* currentImageView() const { return m_currentImageView; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void chooseNextStyle();
    void prepareTransition();
    // The picture as it sits in the view, transparent around it: what the
    // filters blend, so that both photos line up whatever their shapes.
    QImage canvasOf(const QImage& image) const;
    void advanceFrame();
    void finishTransition();

    SlideshowClock m_clock = steadyClock();
    int m_transitionStyle = 5;
    bool m_autoCyclesTransitionStyle = true;
    bool m_autoRandomTransitionStyle = true;
    std::optional<QList<qint64>> m_allowTransitionStyles;
    QImage m_inputShadingImage;
    NXTransitionFilter* m_filter = nullptr; // the catalogue's, prepared for this view

    SlideImageView* m_currentImageView = nullptr;
    QImage m_currentImage;
    QImage m_fromCanvas;
    QImage m_toCanvas;
    qint64 m_transitionStart = 0;
    QTimer m_frameTimer;
};
