#pragma once

#include "slideshow/TransitionPixels.h"

#include <QImage>
#include <QString>
#include <QVariantMap>

#include <memory>

// One transition between two photos: "inputImage" (the photo being left),
// "inputTargetImage" (the photo being entered) and "inputTime" (0 to 1), plus
// the inputs of its kind, each with a default. Inputs are set by name, the way
// the editor's preview view and the preview grid prepare a filter before
// showing it; a name the filter does not have is refused.
//
// Points and rectangles are in the bottom-left coordinates of the frame the
// filter draws. The output has the size of the target image.
class NXTransitionFilter {
public:
    virtual ~NXTransitionFilter() = default;

    // The name the filter is registered under ("NXFadeTransform", ...).
    QString name() const { return m_name; }
    QString displayName() const { return m_displayName; }

    void setDefaults();
    // False, changing nothing, when the filter has no input of that name.
    bool setValue(const QString& key, const QVariant& value);
    QVariant value(const QString& key) const { return m_inputs.value(key); }

    // The frame at "inputTime" between "inputImage" and "inputTargetImage";
    // a null image when either is missing.
    QImage outputImage() const;
    // The same without storing the images in the inputs, for a renderer that
    // draws many frames between one pair.
    QImage render(const QImage& source, const QImage& target, double time) const;

    // An independent filter with the same inputs.
    virtual std::unique_ptr<NXTransitionFilter> clone() const = 0;

protected:
    NXTransitionFilter(QString name, QString displayName, QVariantMap furtherInputs);
    NXTransitionFilter(const NXTransitionFilter&) = default;
    NXTransitionFilter& operator=(const NXTransitionFilter&) = default;

    // Both samplers read prepared images; `output` has the target's size.
    virtual void draw(const ImageSampler& source, const ImageSampler& target, float time,
        QImage& output) const = 0;

    float number(const QString& key) const;
    QPointF point(const QString& key) const;
    QRectF rectangle(const QString& key) const;
    QImage picture(const QString& key) const;

private:
    QString m_name;
    QString m_displayName;
    QVariantMap m_defaults;
    QVariantMap m_inputs;
};

// The boilerplate of a filter class: its copy.
template<class Filter> class NXTransitionFilterOf : public NXTransitionFilter {
public:
    std::unique_ptr<NXTransitionFilter> clone() const override
    {
        return std::make_unique<Filter>(static_cast<const Filter&>(*this));
    }

protected:
    using NXTransitionFilter::NXTransitionFilter;
};
