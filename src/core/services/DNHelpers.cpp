#include "services/DNHelpers.h"

QString DNApplicationName()
{
    return QStringLiteral("Quillon");
}
