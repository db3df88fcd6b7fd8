#pragma once

#include "controls/DNAreaSelector.h"

#include <QStringList>

#include <vector>

// One row of the crop presets ("cropConfigure.plist" in configFiles): what
// choosing it does (its code) and the ratio it carries.
struct NXCropConfigItem {
    // 0 lock to the ratio, 1 lock and fit, 2 lock to the current selection,
    // 3 whole picture, 100 remove the black borders; any other does nothing.
    int code = 0;
    double width = 0;
    double height = 0;
    QString name;
};

// The shipped preset file.
QString cropConfigurePath();
// The rows of a preset file; empty when it is missing or unreadable. Rows
// lacking a key read it as zero or empty, as the editor always has, and each
// such lack is added to `problems` when given.
std::vector<NXCropConfigItem> readCropConfigure(
    const QString& path, QStringList* problems = nullptr);

// The preset menu's item names, each through the translation lookup.
class NXCropCfgValueTransform {
public:
    static QStringList transformedValue(const std::vector<NXCropConfigItem>& items);
};

// What the crop rectangle asks its owner for the black-border preset.
class DNAreaSelectViewDelegate {
public:
    virtual ~DNAreaSelectViewDelegate() = default;
    // True once the preview has a decoded picture to scan.
    virtual bool canCropBlackRegion() = 0;
    // The picture's area without its black borders, in source pixels with
    // the origin at the bottom left.
    virtual QRectF rectByCoppingBlackRegion() = 0;
};

// The editor's crop rectangle: an area selector with an optional ratio lock
// and the presets of "cropConfigure.plist".
class DNAreaSelectView : public DNAreaSelector {
    Q_OBJECT
public:
    explicit DNAreaSelectView(const QRect& frame, QWidget* parent = nullptr);
    DNAreaSelectView(const QRect& frame, const QString& presetFile, QWidget* parent = nullptr);

    void setDelegate(DNAreaSelectViewDelegate* delegate) { m_delegate = delegate; }

    // Stores the rectangle and places the handles; tells nobody.
    void setSelectionArea(const QRectF& area) override;

    // Applies a preset row. Choosing the current row again does nothing,
    // except row 1, the black-border row, whose result depends on the picture.
    void setSelectedAspect(int index);
    int selectedAspect() const { return m_selectedAspect; }
    // The locked width : height; the empty size means no lock.
    QSizeF aspect() const { return m_aspect; }
    void setAspect(const QSizeF& aspect) { m_aspect = aspect; }
    const std::vector<NXCropConfigItem>& cropConfigItems() const { return m_cropConfigItems; }

    // The selection as fractions of the view, origin at the bottom left.
    QRectF selectionAreaPercentage() const;

    // The picture the frame shows, in source pixels. The frame has whole
    // points, so a point rarely holds as many pixels across as down: a preset
    // is a ratio of source pixels, and is brought to points with both scales.
    void setSourceSize(const QSizeF& pixels) { m_sourceSize = pixels; }
    // Source pixels per point across and down; empty while either size is unknown.
    QSizeF sourceScale() const;

protected:
    QRectF constraintForSelectArea(const QRectF& rect) override;

private:
    void applyPreset(const NXCropConfigItem& row);
    void cropBlackRegion();
    QRectF fittedRect(const QSizeF& ratio) const;
    QRectF placedInPoints(const QRectF& found) const;
    QSizeF inPoints(const QSizeF& sourceRatio) const;

    QSizeF m_aspect { 0, 0 };
    int m_selectedAspect = 0;
    QSizeF m_sourceSize;
    std::vector<NXCropConfigItem> m_cropConfigItems;
    DNAreaSelectViewDelegate* m_delegate = nullptr;
};
