#pragma once

#include <QString>

// The video editor's tabs by identifier: a row's edit request names the tab
// the editor opens on, and the editor names its tabs with them.
namespace EditorTab {

inline const QString kGeneral = QStringLiteral("tabGeneral");
inline const QString kTrimming = QStringLiteral("tabTrimming");
inline const QString kCrop = QStringLiteral("tabCrop");
inline const QString kEffect = QStringLiteral("tabEffect");
inline const QString kWatermark = QStringLiteral("tavWatermark");
inline const QString kSubtitle = QStringLiteral("tabSubtile");

} // namespace EditorTab
