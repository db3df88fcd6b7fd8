#pragma once

#include "model/NXBasicMediaNode.h"

#include <QPair>
#include <QString>
#include <QVector>
#include <QWidget>

class QTreeWidget;

// The floating window with what the probe found in a list entry: the
// container, the length and each stream. One window serves every request, so
// asking about another entry replaces the facts shown.
class NXFloatInfoWindowController : public QWidget {
    Q_OBJECT
public:
    using Facts = QVector<QPair<QString, QString>>;

    // The shared window, made on first use.
    static NXFloatInfoWindowController* shareInstance();

    void showWindowWithNode(const NXBasicMediaNode::Ptr& node);

    // The rows shown for a node, as (name, value); none for an album.
    static Facts factsOfNode(const NXBasicMediaNode& node);

    QTreeWidget* factsView() const { return m_factsView; }

private:
    NXFloatInfoWindowController();

    QTreeWidget* m_factsView = nullptr;
};
