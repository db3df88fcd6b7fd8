#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantMap>

#include <utility>

// Reading one record of the settings archive: each record is a map of keys,
// so that a key an older archive lacks keeps its default, and a value of the
// wrong type is logged and ignored rather than turned into a wrong setting.
namespace DNSettingArchive {

void logWrongType(const QString& key, const QVariant& value);

template<class T, class Setter>
void restoreValue(const QVariantMap& map, const QString& key, Setter&& set)
{
    const auto found = map.constFind(key);
    if (found == map.constEnd())
        return;
    if (found->metaType() != QMetaType::fromType<T>()) {
        logWrongType(key, *found);
        return;
    }
    std::forward<Setter>(set)(found->template value<T>());
}

} // namespace DNSettingArchive
