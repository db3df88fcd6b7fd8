#pragma once

#include "common/NXDialogs.h"
#include "download/NXYoutubeViewDelegate.h"

#include <QList>
#include <QPixmap>
#include <QScrollArea>

#include <optional>

class DNYoutubeCell;
class NXYTView;

// The download list: one DNYoutubeCell per node, 85 high, one under the
// other in the nodes' order, 10 narrower than the list. New rows slide in at
// the next reloadData(); removed ones fade out.
class NXYoutubeView : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kRowHeight = 85;

    explicit NXYoutubeView(QWidget* parent = nullptr);

    void setDelegate(NXYoutubeViewDelegate* delegate) { m_delegate = delegate; }
    NXYoutubeViewDelegate* delegate() const { return m_delegate; }
    const QList<NXYoutubeViewDelegate::Node>& dataSource() const { return m_datasource; }
    NXYTView* documentView() const { return m_document; }
    // The rows open their files through the window's one opener, which
    // outlives any row removed while it runs.
    void setSystemActions(NXSystemActions actions) { m_system = std::move(actions); }

    void addYoutubeVideoWith(const NXYoutubeViewDelegate::Node& node, const QPixmap& cover);
    void addYoutubeVideo(const NXYoutubeViewDelegate::Node& node) { addYoutubeVideoWith(node, {}); }
    void reloadData();
    void scroll2Index(int index);
    // The first node whose row is selected, or null.
    NXYoutubeViewDelegate::Node selelectedNode() const;

    void removeVideo(const NXYoutubeViewDelegate::Node& node);
    void removeVideoAtIndex(int index);
    void removeFinishedVideo();
    void removeAllVideo();

    // Requests of the rows.
    void youtubeCellSelected(DNYoutubeCell* cell);
    void youtubeCellPlay(DNYoutubeCell* cell);
    void youtubeCellSkipped(DNYoutubeCell* cell);
    void youtubeCellRemove(DNYoutubeCell* cell);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void removeVideos(const QList<NXYoutubeViewDelegate::Node>& nodes);
    void fadeOut(DNYoutubeCell* cell, int milliseconds);
    DNYoutubeCell* cellOf(const NXYoutubeViewDelegate::Node& node) const;
    void deselectAll();
    int rowWidth() const { return width() - 10; }
    void resizeDocument();

    QList<NXYoutubeViewDelegate::Node> m_datasource;
    NXYoutubeViewDelegate* m_delegate = nullptr;
    std::optional<NXSystemActions> m_system;
    NXYTView* m_document = nullptr;
};
