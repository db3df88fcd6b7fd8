#pragma once

#include "player/EditPictureFilters.h"
#include "player/PreviewSubtitle.h"

#include <QImage>
#include <QMutex>
#include <QRect>
#include <QRectF>
#include <QTransform>
#include <QWidget>

#include <atomic>
#include <optional>

// One preview picture of the video editor, fitted into the view on black,
// optionally passed through the edit's effects first: crop, colour adjustment
// and rotation with mirror. The editor holds two: the unfiltered view and the
// effect view. Colour adjustments live here only; they are never stored in a
// node.
//
// Pictures may be set from the preview player's frame thread; everything else
// runs on the interface thread. The picture and the colour filters are guarded
// by one lock, so a paint never sees them half replaced.
class NXEditMovieView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int transformedBrightness READ transformedBrightness NOTIFY brightnessChanged)
    Q_PROPERTY(int transformedContrast READ transformedContrast NOTIFY contrastChanged)
    Q_PROPERTY(int transformedSaturation READ transformedSaturation NOTIFY saturationChanged)
    Q_PROPERTY(int transformedGamma READ transformedGamma NOTIFY gammaChanged)
    Q_PROPERTY(int transformedHue READ transformedHue NOTIFY hueChanged)

public:
    explicit NXEditMovieView(QWidget* parent = nullptr);

    // Colour values; a setter also gives the value to the colour filters when
    // the colour effect is on, and redisplays.
    void setBrightness(double value);
    void setContrast(double value);
    void setSaturation(double value);
    void setGamma(double value);
    void setHue(double radians);
    double brightness() const { return m_vars.vBrightness; }
    double contrast() const { return m_vars.vContrast; }
    double saturation() const { return m_vars.vSaturation; }
    double gamma() const { return m_vars.vGamma; }
    double hue() const { return m_vars.vHueAngle; }

    // Display values for the effect tab, truncated toward zero.
    int transformedBrightness() const;
    int transformedContrast() const;
    int transformedSaturation() const;
    int transformedGamma() const;
    int transformedHue() const;

    // Crop, in fractions of the current picture (origin at the bottom left;
    // ignored without a picture) or in picture pixels.
    void setCropRectPercent(const QRectF& fractions);
    void setCropRect(const QRectF& pixels);
    QRectF cropRect() const { return m_vars.vCropRect; }

    // Turns the picture a quarter turn clockwise.
    void rotateLeft90();
    // The clockwise angle the node stores: 360 minus the view's rotation.
    int rotationDegress() const { return 360 - m_vars.vRorateDegree; }
    void flipHorizontal();
    bool isFlippedHorizontal() const { return m_vars.vFlip != 0; }
    void setRotateDegress(int clockwiseDegrees, bool flip);
    void resetGeometry();

    void setEnableColorEffect(bool on);
    bool isEnableColorEffect() const { return m_enableColorEffect; }
    void setEnableCropEffect(bool on) { m_enableCropEffect = on; }
    bool isEnableCropEffect() const { return m_enableCropEffect; }
    void setEnableEditEffect(bool on);
    bool isEnableEditEffect() const { return m_enableColorEffect && m_enableCropEffect; }

    void resetColorAdjust();
    // Presets: 0 black and white, 1 toned, any other index plain colours.
    // Choosing the stored index again changes nothing.
    void setInternalEffectIndex(int index);
    int internalEffectIndex() const { return m_vars.internalEffectIndex; }

    // Safe from any thread.
    void setCurrentVideoFrame(const QImage& picture);
    QImage currentVideoFrame() const;
    void displayImage();
    void setMovieStop(bool stopped) { m_movieStop = stopped; }
    bool movieStop() const { return m_movieStop; }

    // The subtitle text shown now at each place (none where empty): drawn
    // upright over the shown picture, after the effects, as the output shows
    // it. Interface thread only.
    void setSubtitleLines(const PreviewSubtitle::Lines& lines);

    // Kept for the callers that set it; drawing always fits the picture inside.
    void setFillMode(int mode) { m_fillMode = mode; }
    int fillMode() const { return m_fillMode; }

    // `picture` through the crop, colour and geometry effects that are on.
    QImage resultOfImageFilterFromImage(const QImage& picture) const;
    // `picture` through the colour filters; a null picture while they are off.
    QImage resultOfImageColorFilterFromImage(const QImage& picture) const;
    // The black-border rectangle of the current picture (origin at the bottom
    // left); an empty rectangle without a picture.
    QRect cropedImageBlackRegionRect() const;

public slots:
    // The effect tab's controls.
    void enableEffect(bool checked) { setEnableEditEffect(checked); }
    void brightnessAdjust(double value) { setBrightness(value); }
    void contrastAdjust(double value) { setContrast(value); }
    void saturationAdjust(double value) { setSaturation(value); }
    void gammaAdjust(double value) { setGamma(value); }
    void hueAdjust(double value) { setHue(value); }
    void resetColorAdjustAction() { resetColorAdjust(); }
    // `tag` is the character code of a fine-step button: B, C, G, H or S in
    // either case; other tags do nothing.
    void tinyAddValue(int tag) { stepValue(tag, 1.0); }
    void tinyReduceValue(int tag) { stepValue(tag, -1.0); }

signals:
    void brightnessChanged();
    void contrastChanged();
    void saturationChanged();
    void gammaChanged();
    void hueChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void stepValue(int tag, double direction);
    void adjustColorFilter();
    void adjustGeometryFilter();
    void emitEveryColorChange();
    QImage filteredLocked(const QImage& picture) const;

    mutable QMutex m_lock;
    NXVarsAdjust m_vars;
    QTransform m_geometry;
    std::optional<EditColorFilters> m_colorFilters; // exists while the colour effect is on
    bool m_enableEditEffect = false;
    bool m_enableCropEffect = false;
    bool m_enableColorEffect = false;
    std::atomic<bool> m_movieStop = false;
    QImage m_currentVideoFrame;
    int m_fillMode = 0;
    PreviewSubtitle::Lines m_subtitleLines;
};
