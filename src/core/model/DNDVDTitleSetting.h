#pragma once

#include "model/DNTrackEditSetting.h"

// The edit settings of one DVD title, its tracks chosen among the title's.
class DNDVDTitleSetting : public DNTrackEditSetting {
public:
    bool operator==(const DNDVDTitleSetting&) const = default;
};
