#include "editor/DNAreaSelectView.h"

#include "platform/AppPaths.h"
#include "platform/DNLogger.h"
#include "platform/PropertyListBounds.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <plist/plist.h>

#include <climits>
#include <cmath>
#include <memory>
#include <optional>

namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistHolder = std::unique_ptr<void, PlistFree>;

constexpr double kHeightMoved = 0.0001;
// The installed presets hold 2 KiB.
constexpr qint64 kLargestPresetsBytes = 1024 * 1024;

// The bytes of a text node. plist_get_string_val asserts when a damaged file's
// text holds a zero byte; the pointer form hands the bytes over as they are.
QByteArray textOf(plist_t node)
{
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return QByteArray(text, static_cast<qsizetype>(length));
}

std::optional<double> numberOf(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        // Negative integers are stored as their two's complement.
        return double(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_STRING: {
        bool ok = false;
        const double value = QString::fromUtf8(textOf(node)).trimmed().toDouble(&ok);
        return ok ? std::optional<double>(value) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

// Reads one key of a row; a missing or unusable value reads as zero.
double numberIn(plist_t row, const char* key, int rowIndex, QStringList* problems)
{
    const plist_t node = plist_dict_get_item(row, key);
    const std::optional<double> value = node ? numberOf(node) : std::nullopt;
    if (!value && problems)
        *problems << QStringLiteral("row %1: \"%2\" is not a number").arg(rowIndex).arg(key);
    return value.value_or(0);
}

QString nameIn(plist_t row, int rowIndex, QStringList* problems)
{
    const plist_t node = plist_dict_get_item(row, "NXCropCfgName");
    const bool isText = node && plist_get_node_type(node) == PLIST_STRING;
    const QByteArray text = isText ? textOf(node) : QByteArray();
    if (!isText || text.contains('\0')) {
        if (problems)
            *problems << QStringLiteral("row %1: \"NXCropCfgName\" is not a text").arg(rowIndex);
        return {};
    }
    return QString::fromUtf8(text);
}

PlistHolder readPlistArray(const QString& path, QStringList* problems)
{
    QString unreadable;
    QByteArray bytes = readFileUpTo(path, kLargestPresetsBytes, unreadable).value_or(QByteArray());
    if (!propertyListDepthProblem(bytes).isEmpty())
        bytes.clear();
    plist_t root = nullptr;
    if (!bytes.isEmpty())
        plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &root);
    PlistHolder holder(root);
    if (root && plist_get_node_type(root) == PLIST_ARRAY)
        return holder;
    const QString problem = QStringLiteral("Crop presets \"%1\" are not a list of rows").arg(path);
    DNLog(problem);
    if (problems)
        *problems << problem;
    return nullptr;
}

} // namespace

QString cropConfigurePath()
{
    return AppPaths::resourcesFolder() + QStringLiteral("/configFiles/cropConfigure.plist");
}

std::vector<NXCropConfigItem> readCropConfigure(const QString& path, QStringList* problems)
{
    std::vector<NXCropConfigItem> items;
    const PlistHolder root = readPlistArray(path, problems);
    if (!root)
        return items;
    const uint32_t count = plist_array_get_size(root.get());
    for (uint32_t index = 0; index < count; ++index) {
        const plist_t row = plist_array_get_item(root.get(), index);
        if (plist_get_node_type(row) != PLIST_DICT) {
            if (problems)
                *problems << QStringLiteral("row %1 is not a dictionary").arg(index);
            items.push_back({});
            continue;
        }
        const int rowIndex = int(index);
        NXCropConfigItem item;
        item.code = int(numberIn(row, "NXCropCfgCode", rowIndex, problems));
        item.width = numberIn(row, "NXCropCfgWidth", rowIndex, problems);
        item.height = numberIn(row, "NXCropCfgHeight", rowIndex, problems);
        item.name = nameIn(row, rowIndex, problems);
        items.push_back(item);
    }
    return items;
}

QStringList NXCropCfgValueTransform::transformedValue(const std::vector<NXCropConfigItem>& items)
{
    QStringList names;
    for (const NXCropConfigItem& item : items) {
        const QByteArray key = item.name.toUtf8();
        names << QCoreApplication::translate("cropConfigure", key.constData());
    }
    return names;
}

DNAreaSelectView::DNAreaSelectView(const QRect& frame, QWidget* parent)
    : DNAreaSelectView(frame, cropConfigurePath(), parent)
{ }

DNAreaSelectView::DNAreaSelectView(const QRect& frame, const QString& presetFile, QWidget* parent)
    : DNAreaSelector(frame, parent)
    , m_cropConfigItems(readCropConfigure(presetFile))
{ }

void DNAreaSelectView::setSelectionArea(const QRectF& area)
{
    DNAreaSelector::setSelectionArea(area);
    refreshDragCellPosition();
}

QRectF DNAreaSelectView::selectionAreaPercentage() const
{
    const QRectF area = selectionArea();
    const double boundsWidth = width();
    const double boundsHeight = height();
    return { area.x() / boundsWidth, area.y() / boundsHeight, area.width() / boundsWidth,
        area.height() / boundsHeight };
}

QSizeF DNAreaSelectView::sourceScale() const
{
    if (m_sourceSize.isEmpty() || width() <= 0 || height() <= 0)
        return {};
    return { m_sourceSize.width() / width(), m_sourceSize.height() / height() };
}

QSizeF DNAreaSelectView::inPoints(const QSizeF& sourceRatio) const
{
    const QSizeF scale = sourceScale();
    if (scale.isEmpty())
        return sourceRatio;
    return { sourceRatio.width() / scale.width(), sourceRatio.height() / scale.height() };
}

void DNAreaSelectView::setSelectedAspect(int index)
{
    if (index != 1 && index == m_selectedAspect)
        return;
    // The index comes from a node's saved setting and the rows from a file
    // that may have fewer of them: an unknown row is remembered, not applied.
    if (index >= 0 && std::size_t(index) < m_cropConfigItems.size())
        applyPreset(m_cropConfigItems[std::size_t(index)]);
    m_selectedAspect = index;
}

void DNAreaSelectView::applyPreset(const NXCropConfigItem& row)
{
    switch (row.code) {
    case 0:
        setAspect(inPoints({ row.width, row.height }));
        break;
    case 1:
        setAspect(inPoints({ row.width, row.height }));
        setSelectionArea(fittedRect(aspect()));
        selectAreaDidChanged();
        break;
    case 2:
        setAspect(selectionArea().size());
        break;
    case 3:
        setAspect(QSizeF(width(), height()));
        setSelectionArea(QRectF(0, 0, width(), height()));
        selectAreaDidChanged();
        break;
    case 100:
        cropBlackRegion();
        break;
    default:
        break;
    }
}

void DNAreaSelectView::cropBlackRegion()
{
    if (!m_delegate || !m_delegate->canCropBlackRegion())
        return;
    setSelectionArea(placedInPoints(m_delegate->rectByCoppingBlackRegion()));
    setAspect({ 0, 0 });
    // Told on the next turn of the event loop, after the caller has stored
    // the row, as the editor expects.
    QTimer::singleShot(0, this, [this] { selectAreaDidChanged(); });
}

// The bars need not be even (a picture padded only above it, a logo strip at
// one side): the found rectangle keeps its own place and all four sides, as
// its size centred would keep rows of one bar and cut rows of picture at the
// other. Source pixels can be placed only once the source's size is known;
// before, the rectangle's proportions are fitted as for a ratio preset.
QRectF DNAreaSelectView::placedInPoints(const QRectF& found) const
{
    const QSizeF scale = sourceScale();
    if (scale.isEmpty() || found.isEmpty())
        return fittedRect(inPoints(found.size()));
    const QRectF placed(found.x() / scale.width(), found.y() / scale.height(),
        found.width() / scale.width(), found.height() / scale.height());
    return placed.intersected(QRectF(0, 0, width(), height()));
}

QRectF DNAreaSelectView::fittedRect(const QSizeF& ratio) const
{
    const double boundsWidth = width();
    const double boundsHeight = height();
    double widthScale = ratio.width() / boundsWidth;
    double heightScale = ratio.height() / boundsHeight;
    if (widthScale == 0)
        widthScale = 1.0;
    if (heightScale == 0)
        heightScale = 1.0;
    if (widthScale > heightScale) {
        const double fittedHeight = ratio.height() / widthScale;
        return { 0, (boundsHeight - fittedHeight) / 2, boundsWidth, fittedHeight };
    }
    const double fittedWidth = ratio.width() / heightScale;
    return { (boundsWidth - fittedWidth) / 2, 0, fittedWidth, boundsHeight };
}

QRectF DNAreaSelectView::constraintForSelectArea(const QRectF& rect)
{
    // An empty ratio (a lock taken from an empty selection) locks nothing.
    if (m_aspect.width() <= 0 || m_aspect.height() <= 0)
        return rect;
    const QRectF current = selectionArea();
    // The origin stays: a locked edge drag grows the other side to the right
    // or upward, and is refused where that would leave the view.
    if (std::fabs(rect.height() - current.height()) > kHeightMoved) {
        const double lockedWidth = rect.height() * m_aspect.width() / m_aspect.height();
        if (rect.x() + lockedWidth > width())
            return current;
        return { rect.x(), rect.y(), lockedWidth, rect.height() };
    }
    const double lockedHeight = rect.width() * m_aspect.height() / m_aspect.width();
    if (rect.y() + lockedHeight > height())
        return current;
    return { rect.x(), rect.y(), rect.width(), lockedHeight };
}
