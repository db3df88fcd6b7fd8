#pragma once

#include "model/DNBaseEditSetting.h"

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <memory>

class DNProfile;

// What the editor changes on a node, in the editor's own units: whole seconds
// and source pixels (origin bottom left). A file node keeps them in its edit
// setting as fractions of its selected video track; a DVD node in the setting
// of its selected title.
class DNVideoEditProtocol {
public:
    virtual ~DNVideoEditProtocol() = default;

    virtual bool isMirror() const = 0;
    virtual void setMirror(bool on) = 0;
    virtual quint32 rotationAngle() const = 0;
    virtual void setRotationAngle(quint32 degrees) = 0;

    virtual bool isEnableGeneral() const = 0;
    virtual void setEnableGeneral(bool on) = 0;
    virtual quint32 generalVolume() const = 0;
    virtual void setGeneralVolume(quint32 percent) = 0;
    // The volume back to 100; nothing else.
    virtual void resetGeneral() = 0;

    virtual bool isEnableTrimming() const = 0;
    virtual void setEnableTrimming(bool on) = 0;
    virtual quint32 trimStartTime() const = 0;
    virtual void setTrimStartTime(quint32 seconds) = 0;
    virtual quint32 trimEndTime() const = 0;
    virtual void setTrimEndTime(quint32 seconds) = 0;

    virtual bool isEnableCrop() const = 0;
    virtual void setEnableCrop(bool on) = 0;
    virtual bool isCropLetterboxAuto() const = 0;
    virtual void setCropLetterboxAuto(bool on) = 0;
    virtual quint32 indexOfCropAspect() const = 0;
    virtual void setIndexOfCropAspect(quint32 index) = 0;
    virtual bool autoExpandToProfileRes() const = 0;
    virtual void setAutoExpandToProfileRes(bool on) = 0;
    virtual QRectF cropRect() const = 0;
    virtual void setCropRect(const QRectF& pixels) = 0;

    virtual bool isEnableEffect() const = 0;
    virtual void setEnableEffect(bool on) = 0;
    virtual quint32 indexOfEffect() const = 0;
    virtual void setIndexOfEffect(quint32 index) = 0;

    virtual bool isEnableSubtitleEdit() const = 0;
    virtual void setEnableSubtitleEdit(bool on) = 0;
    // 1: the source has no subtitle track; 0: a track of the source or none
    // is chosen; 1 again when the external file is chosen.
    virtual quint32 indexOfSubtitleType() const = 0;
    virtual quint32 indexOfInnerSubtitle() const = 0;
    virtual QStringList innerSubtitlesName() const = 0;
    virtual QString extraSubtitlePath() const = 0;
    virtual QString extraSubtitleLanguage() const = 0;
    virtual void setExtraSubtitleLanguage(const QString& language) = 0;
    virtual void addExtraSubtitle(const QString& path) = 0;
    virtual void selectSubtitleAtIndex(qint32 index, bool extraSubtitle) = 0;
    virtual quint32 subtitlePos() const = 0;
    virtual void setSubtitlePos(quint32 position) = 0;

    virtual bool isEnableWatermark() const = 0;
    virtual void setEnableWatermark(bool on) = 0;
    virtual quint32 typeOfWatermark() const = 0;
    virtual void setTypeOfWatermark(quint32 type) = 0;
    virtual QString imagePathOfWatermark() const = 0;
    virtual void setImagePathOfWatermark(const QString& path) = 0;
    virtual QString textOfWatermark() const = 0;
    virtual void setTextOfWatermark(const QString& text) = 0;
    virtual quint32 watermarkTransparency() const = 0;
    virtual void setWatermarkTransparency(quint32 percent) = 0;
    virtual DNWatermarkFont textWatermarkFont() const = 0;
    virtual void setTextWatermarkFont(const DNWatermarkFont& font) = 0;
    virtual QColor textWatermarkColor() const = 0;
    virtual void setTextWatermarkColor(const QColor& colour) = 0;
    virtual QRectF watermarkRect() const = 0;
    virtual void setWatermarkRect(const QRectF& pixels) = 0;

    virtual QSizeF resolutionOfSelectedVideoTrack() const = 0;
    virtual void setResolutionOfSelectedVideoTrack(const QSizeF& size) = 0;
    virtual quint32 currentVideoTrackDuration() const = 0;
    virtual void setCurrentVideoTrackDuration(quint32 seconds) = 0;

    virtual std::shared_ptr<DNProfile> profile() const = 0;
};
