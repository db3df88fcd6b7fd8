#pragma once

#include "model/DNFileNode.h"

#include <memory>
#include <vector>

// Files (and photo albums) merged into one output. The group answers as a
// file node of its own (profile, edit setting, output metadata, output path)
// and holds its members as children in list order.
class DNFileGroupNode : public DNFileNode {
public:
    static constexpr NXNodeClass kNodeClass = NXNodeClass::FileGroupNode;

    DNFileGroupNode();

    // A group of the members in their order; video-file members are marked as
    // merge members. Its path is the first member's and its output metadata
    // is made from that path as for a loaded file.
    static std::shared_ptr<DNFileGroupNode> fileGroupNodeWithNodes(
        const std::vector<NXBasicMediaNode::Ptr>& nodes);

    NXNodeClass nodeClass() const override { return kNodeClass; }
};
