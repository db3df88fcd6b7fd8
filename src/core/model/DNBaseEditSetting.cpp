#include "model/DNBaseEditSetting.h"

void DNBaseEditSetting::copyEditsFrom(const DNBaseEditSetting& other)
{
    const bool ownForceSubOnly = m_forceSubOnly;
    *this = other;
    m_forceSubOnly = ownForceSubOnly;
}
