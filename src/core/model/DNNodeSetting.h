#pragma once

#include "model/DNTrackEditSetting.h"

// The edit settings of a file node, its tracks chosen among the node's.
class DNNodeSetting : public DNTrackEditSetting {
public:
    bool operator==(const DNNodeSetting&) const = default;

    // A fresh setting carrying this one's edits and tracks: what a node keeps
    // when a setting is handed to it, and what "apply to all" gives every node.
    DNNodeSetting copy() const;
};
