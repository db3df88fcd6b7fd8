#pragma once

#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <vector>

class QPropertyAnimation;

// What the effects strip asks of its owner. Names and the selection report
// are optional: the defaults give no name and ignore the selection.
class DNEffectsViewProtocol {
public:
    virtual ~DNEffectsViewProtocol() = default;
    virtual int countOfEffectPreview() = 0;
    // A null image leaves the cell's picture empty.
    virtual QImage effectImageAtIndex(int index) = 0;
    virtual QString effectNameAtIndex(int) { return {}; }
    // Told only when a click picks another entry, never for a selection made in code.
    virtual void effectSelectedAtIndex(int) { }
};

// A paged strip of effect thumbnails with one selection. The cells stand on
// a strip that slides a page (this view's width) at a time; an optional label
// says "2 of 4". The strip and its cells react to clicks only while the view
// is enabled (QWidget's own enabled state, which the cells inherit).
class DNEffectsView : public QWidget {
    Q_OBJECT
public:
    class ImageView;
    class EffectView;

    explicit DNEffectsView(QWidget* parent = nullptr);

    void setDelegate(DNEffectsViewProtocol* delegate) { m_delegate = delegate; }
    DNEffectsViewProtocol* delegate() const { return m_delegate; }
    void setPageLabel(QLabel* label) { m_pageLabel = label; }
    QLabel* pageLabel() const { return m_pageLabel; }

    // Makes the cells once, from the delegate's count; later calls do nothing.
    void createEffectViews();
    // Refreshes every cell's picture, name and state; makes the cells when there are none.
    void reload();

    int countOfPages() const;
    int indexOfSelectedPage() const;
    void scrollDocViewWithAnimation(const QRect& target);
    void updatePageLabelValue();

    void setIndexOfSelectedEffect(int index);
    int indexOfSelectedEffect() const { return m_indexOfSelectedEffect; }
    void effectViewStateDidChanged(EffectView* clicked);

    const QWidget* docView() const { return m_docView; }
    const std::vector<EffectView*>& effectViews() const { return m_cells; }

public slots:
    void nextPage();
    void previousPage();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void configureCell(EffectView* cell, int index);
    void turnPage(int direction);

    DNEffectsViewProtocol* m_delegate = nullptr;
    QWidget* m_docView = nullptr;
    QPointer<QLabel> m_pageLabel;
    QPropertyAnimation* m_pageTurn = nullptr;
    std::vector<EffectView*> m_cells;
    int m_indexOfSelectedEffect = -1;
    bool m_isCreatedEffectIconView = false;
};

// The picture of a cell, on white, inset by 3 points.
class DNEffectsView::ImageView : public QWidget {
public:
    explicit ImageView(QWidget* parent);
    void setImage(const QImage& image);
    QImage image() const { return m_image; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
};

// One cell of the strip: the picture and a label that carries the check mark
// of the selected entry.
class DNEffectsView::EffectView : public QWidget {
public:
    EffectView(const QRect& frame, DNEffectsView* host, QWidget* parent);

    void setState(bool selected);
    bool state() const { return m_state; }
    void setImage(const QImage& image);
    void setName(const QString& name);
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }
    void layoutParts();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateLabel();

    ImageView* m_effectPreview = nullptr;
    QLabel* m_effectName = nullptr;
    DNEffectsView* m_host = nullptr;
    int m_tag = 0;
    bool m_state = false;
};
