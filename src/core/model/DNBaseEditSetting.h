#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

// The font of a text watermark. An empty family stands for the system font,
// which only the drawing code can resolve (it needs the windowing system).
struct DNWatermarkFont {
    QString family;
    double pointSize = 120.0;

    bool operator==(const DNWatermarkFont&) const = default;
};

// The edits of one entry: geometry, trim, crop, effect, watermark, subtitle
// and volume. Times and rectangles are kept as fractions (0 to 1) of the
// selected video track, so that they survive a change of track or scale;
// rectangles have their origin at the bottom left.
class DNBaseEditSetting {
public:
    // Watermark kinds.
    static constexpr quint32 kWatermarkImage = 0;
    static constexpr quint32 kWatermarkText = 1;
    // Subtitle positions as the editor offers them.
    static constexpr quint32 kSubtitleTop = 67;
    static constexpr quint32 kSubtitleCentre = 78;
    static constexpr quint32 kSubtitleBottom = 100;

    static DNWatermarkFont defaultWatermarkFont() { return {}; }
    static QColor defaultWatermarkColor() { return QColor(Qt::red); }

    bool operator==(const DNBaseEditSetting&) const = default;

    qint32 rotationAngle() const { return m_rotationAngle; }
    void setRotationAngle(qint32 degrees) { m_rotationAngle = degrees; }
    bool mirror() const { return m_mirror; }
    void setMirror(bool on) { m_mirror = on; }

    bool generalEnable() const { return m_generalEnable; }
    void setGeneralEnable(bool on) { m_generalEnable = on; }
    // Percent; 100 leaves the level as it is.
    quint32 volume() const { return m_volume; }
    void setVolume(quint32 percent) { m_volume = percent; }

    bool subtitleEnable() const { return m_subtitleEnable; }
    void setSubtitleEnable(bool on) { m_subtitleEnable = on; }
    quint32 position() const { return m_position; }
    void setPosition(quint32 position) { m_position = position; }
    // Only the forced subtitles in the audio language (DVD titles).
    bool forceSubOnly() const { return m_forceSubOnly; }
    void setForceSubOnly(bool on) { m_forceSubOnly = on; }

    bool trimEnable() const { return m_trimEnable; }
    void setTrimEnable(bool on) { m_trimEnable = on; }
    float trimStartPercent() const { return m_trimStartPercent; }
    void setTrimStartPercent(float fraction) { m_trimStartPercent = fraction; }
    float trimEndPercent() const { return m_trimEndPercent; }
    void setTrimEndPercent(float fraction) { m_trimEndPercent = fraction; }

    bool cropEnable() const { return m_cropEnable; }
    void setCropEnable(bool on) { m_cropEnable = on; }
    // The crop came from black-border detection.
    bool cropLetterboxAuto() const { return m_cropLetterboxAuto; }
    void setCropLetterboxAuto(bool on) { m_cropLetterboxAuto = on; }
    quint32 cropAspectIndex() const { return m_cropAspectIndex; }
    void setCropAspectIndex(quint32 index) { m_cropAspectIndex = index; }
    QRectF cropRectPercent() const { return m_cropRectPercent; }
    void setCropRectPercent(const QRectF& fractions) { m_cropRectPercent = fractions; }
    // On: the scaled picture is padded, centred, to the profile's frame size.
    bool autoExpandToProfile() const { return m_autoExpandToProfile; }
    void setAutoExpandToProfile(bool on) { m_autoExpandToProfile = on; }

    bool effectEnable() const { return m_effectEnable; }
    void setEffectEnable(bool on) { m_effectEnable = on; }
    quint32 effectIndex() const { return m_effectIndex; }
    void setEffectIndex(quint32 index) { m_effectIndex = index; }

    bool watermarkEnable() const { return m_watermarkEnable; }
    void setWatermarkEnable(bool on) { m_watermarkEnable = on; }
    quint32 watermarkType() const { return m_watermarkType; }
    void setWatermarkType(quint32 type) { m_watermarkType = type; }
    QString watermarkImagePath() const { return m_watermarkImagePath; }
    void setWatermarkImagePath(const QString& path) { m_watermarkImagePath = path; }
    QString watermarkText() const { return m_watermarkText; }
    void setWatermarkText(const QString& text) { m_watermarkText = text; }
    QRectF watermarkRectPercent() const { return m_watermarkRectPercent; }
    void setWatermarkRectPercent(const QRectF& fractions) { m_watermarkRectPercent = fractions; }
    // Percent.
    quint32 watermarkTransparency() const { return m_watermarkTransparency; }
    void setWatermarkTransparency(quint32 percent) { m_watermarkTransparency = percent; }
    DNWatermarkFont watermarkFont() const { return m_watermarkFont; }
    void setWatermarkFont(const DNWatermarkFont& font) { m_watermarkFont = font; }
    QColor watermarkColor() const { return m_watermarkColor; }
    void setWatermarkColor(const QColor& colour) { m_watermarkColor = colour; }

protected:
    // Takes the edits that travel when one entry's setting is applied to
    // others: everything but the forced-subtitle flag, which belongs to the
    // title it was chosen for.
    void copyEditsFrom(const DNBaseEditSetting& other);

private:
    qint32 m_rotationAngle = 0;
    bool m_mirror = false;
    bool m_generalEnable = false;
    quint32 m_volume = 100;
    bool m_subtitleEnable = false;
    quint32 m_position = kSubtitleBottom;
    bool m_forceSubOnly = false;
    bool m_trimEnable = false;
    float m_trimStartPercent = 0.0f;
    float m_trimEndPercent = 1.0f;
    bool m_cropEnable = false;
    bool m_cropLetterboxAuto = false;
    quint32 m_cropAspectIndex = 1;
    QRectF m_cropRectPercent { 0.0, 0.0, 1.0, 1.0 };
    bool m_autoExpandToProfile = false;
    bool m_effectEnable = false;
    quint32 m_effectIndex = 0;
    bool m_watermarkEnable = false;
    quint32 m_watermarkType = kWatermarkText;
    QString m_watermarkImagePath;
    QString m_watermarkText;
    QRectF m_watermarkRectPercent { 0.3, 0.3, 0.3, 0.3 };
    quint32 m_watermarkTransparency = 30;
    DNWatermarkFont m_watermarkFont = defaultWatermarkFont();
    QColor m_watermarkColor = defaultWatermarkColor();
};
