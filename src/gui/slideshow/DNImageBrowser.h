#pragma once

#include "slideshow/DNImageNode.h"

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QListView>
#include <QSet>
#include <QThreadPool>

#include <vector>

// The records of one level of an album (its folder records, or the photos of
// one of them) as browser items: the file name and a thumbnail made on a
// thread of the model's own.
class DNImageBrowserModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kThumbnailWidth = 96;
    static constexpr int kThumbnailHeight = 72;

    explicit DNImageBrowserModel(QObject* parent = nullptr);
    ~DNImageBrowserModel() override;

    // The records shown, null for none; they stay the caller's.
    void setLevel(std::vector<DNImageNode>* records, bool topLevel);
    std::vector<DNImageNode>* level() const { return m_records; }
    bool isTopLevel() const { return m_topLevel; }
    // After the records changed under the model.
    void reload();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

private:
    QImage thumbnailFor(const QString& path) const;
    void thumbnailArrived(const QString& path, const QImage& thumbnail);

    std::vector<DNImageNode>* m_records = nullptr;
    bool m_topLevel = true;
    mutable QHash<QString, QImage> m_thumbnails;
    mutable QSet<QString> m_pending;
    mutable QThreadPool m_thumbnailThreads;
};

// The browser: icons of the current level, a move of folder records by
// dragging them within the browser, the Delete key.
class DNImageBrowserView : public QListView {
    Q_OBJECT
public:
    explicit DNImageBrowserView(DNImageBrowserModel& model, QWidget* parent = nullptr);

    // The selected rows, in ascending order.
    QList<int> selectedRows() const;

signals:
    void moveRequested(const QList<int>& rows, int destination);
    void removeRequested();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool acceptsDrop(const QDropEvent& event) const;

    DNImageBrowserModel& m_model;
};
