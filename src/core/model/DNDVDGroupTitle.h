#pragma once

#include "model/DNDVDNode.h"

#include <memory>
#include <vector>

// The selected titles of one DVD merged into one output, made when the
// conversion starts. It shares the DVD node's source, profile and output
// metadata and answers the DVD node's own title objects, so the builders'
// per-title output names reach the driver; they stay the DVD node's
// children, since a node has one parent.
class DNDVDGroupTitle : public DNDVDNode {
public:
    static constexpr NXNodeClass kNodeClass = NXNodeClass::DVDGroupTitle;

    DNDVDGroupTitle();

    // Null unless the node asks for its titles to be merged.
    static std::shared_ptr<DNDVDGroupTitle> dvdGroupTitleWithDVDNode(
        const std::shared_ptr<DNDVDNode>& node);

    NXNodeClass nodeClass() const override { return kNodeClass; }
    std::vector<std::shared_ptr<DNDVDTitle>> titles() const override { return m_titles; }

    std::shared_ptr<DNDVDNode> originalDVDNode() const { return m_originalDVDNode.lock(); }
    // The full path of the merged output.
    QString outputName() const { return m_outputName; }
    void setOutputName(const QString& path) { m_outputName = path; }

private:
    std::vector<std::shared_ptr<DNDVDTitle>> m_titles;
    std::weak_ptr<DNDVDNode> m_originalDVDNode;
    QString m_outputName;
};
