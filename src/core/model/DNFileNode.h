#pragma once

#include "model/DNNodeInfo.h"
#include "model/DNNodeSetting.h"
#include "model/DNVideoEditProtocol.h"
#include "model/NXBasicMediaNode.h"
#include "model/NXMPlayerPlaybackProtocol.h"
#include "services/DNFileTracks.h"

#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class DNProfile;

// Why a file could not join the conversion list.
enum class DNFileLoadFailure {
    None,
    Folder,
    Missing,
    NameNotUtf8,
    FolderNameNotUtf8,
    NotRegularFile,
    Unreadable,
    NotMedia,
    CutShort,
    Picture,
    NoVideoTrack,
    PictureTooLarge
};

// The reason in words a user understands ("it has no video track...").
QString DNFileLoadFailureText(DNFileLoadFailure failure);

// One source media file of the conversion list: what the probe found in it
// (format, tags, tracks), the user's edits, the output profile and the output
// metadata. Every file node on the list has at least one video track.
class DNFileNode : public NXBasicMediaNode,
                   public DNVideoEditProtocol,
                   public NXMPlayerPlaybackProtocol {
public:
    static constexpr NXNodeClass kNodeClass = NXNodeClass::FileNode;

    explicit DNFileNode(const QString& path = {});

    // Probes the media file into a new node with its tracks, output metadata,
    // edit setting and track choices, and the external subtitles of its
    // folder; with `snapshot` it also starts the thumbnail capture. Null (and
    // a log line) when the file cannot be loaded as media; `failure`, when
    // given, then says why.
    static std::shared_ptr<DNFileNode> fileNodeWithFile(
        const QString& path, bool snapshot = false, DNFileLoadFailure* failure = nullptr);

    NXNodeClass nodeClass() const override { return kNodeClass; }
    std::shared_ptr<DNFileNode> fileNodeForConversion() override;

    // What the probe found.
    QString path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    // The container format name the probe reports ("MPEG-4", "Matroska"...).
    QString fileFormat() const { return m_fileFormat; }
    void setFileFormat(const QString& format) { m_fileFormat = format; }
    QString title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    QString performer() const { return m_performer; }
    void setPerformer(const QString& performer) { m_performer = performer; }
    QString comment() const { return m_comment; }
    void setComment(const QString& comment) { m_comment = comment; }
    // The whole file's length in seconds.
    double duration() const { return m_duration; }
    void setDuration(double seconds) { m_duration = seconds; }
    // The file engine's own probe counted the same video and audio streams.
    bool sameStreams() const { return m_sameStreams; }
    void setSameStreams(bool same) { m_sameStreams = same; }
    // The row's picture; null until the capture delivers one. Main thread only.
    QImage thumbnail() const { return m_thumbnail; }
    void setThumbnail(const QImage& image);

    const std::vector<DNTVideo>& videoTracks() const { return m_videoTracks; }
    std::vector<DNTVideo>& videoTracks() { return m_videoTracks; }
    void setVideoTracks(std::vector<DNTVideo> tracks) { m_videoTracks = std::move(tracks); }
    const std::vector<DNAudioTrack>& audioTracks() const { return m_audioTracks; }
    void setAudioTracks(std::vector<DNAudioTrack> tracks) { m_audioTracks = std::move(tracks); }
    const std::vector<DNSubtitleTrack>& subtitleTracks() const { return m_subtitleTracks; }
    void setSubtitleTracks(std::vector<DNSubtitleTrack> tracks)
    {
        m_subtitleTracks = std::move(tracks);
    }
    // Appends an audio file the user added and selects it.
    void addExtraAudio(const QString& path);

    // The selected track of each kind, or null when the index points nowhere.
    const DNTVideo* selectedVideoTrack() const;
    DNTVideo* selectedVideoTrack();
    const DNAudioTrack* selectedAudioTrack() const;
    const DNSubtitleTrack* selectedSubtitleTrack() const;

    // The edit setting as it is: the builders and the driver read and briefly
    // change it.
    const DNNodeSetting& setting() const { return m_setting; }
    DNNodeSetting& setting() { return m_setting; }
    void setSetting(const DNNodeSetting& setting) { m_setting = setting; }
    // The editor's view: the node keeps a copy of what it is given, so that
    // "apply to all" leaves every node with a setting of its own.
    DNNodeSetting editSetting() const { return m_setting; }
    void setEditSetting(const DNNodeSetting& setting) { m_setting = setting.copy(); }

    std::shared_ptr<DNProfile> profile() const override { return m_profile; }
    void setProfile(std::shared_ptr<DNProfile> profile) { m_profile = std::move(profile); }
    const DNNodeInfo& nodeInfo() const { return m_nodeInfo; }
    void setNodeInfo(const DNNodeInfo& info) { m_nodeInfo = info; }
    // The full path the last build of this node writes; empty until a
    // builder sets it.
    QString outputName() const { return m_outputName; }
    void setOutputName(const QString& path) { m_outputName = path; }

    QStringList NXMPlayerPlaybackParameters() const override;

    // The editor's operations.
    bool isMirror() const override { return m_setting.mirror(); }
    void setMirror(bool on) override { m_setting.setMirror(on); }
    quint32 rotationAngle() const override;
    void setRotationAngle(quint32 degrees) override;

    bool isEnableGeneral() const override { return m_setting.generalEnable(); }
    void setEnableGeneral(bool on) override { m_setting.setGeneralEnable(on); }
    quint32 generalVolume() const override { return m_setting.volume(); }
    void setGeneralVolume(quint32 percent) override { m_setting.setVolume(percent); }
    void resetGeneral() override { m_setting.setVolume(100); }

    bool isEnableTrimming() const override { return m_setting.trimEnable(); }
    void setEnableTrimming(bool on) override { m_setting.setTrimEnable(on); }
    quint32 trimStartTime() const override;
    void setTrimStartTime(quint32 seconds) override;
    quint32 trimEndTime() const override;
    void setTrimEndTime(quint32 seconds) override;

    bool isEnableCrop() const override { return m_setting.cropEnable(); }
    void setEnableCrop(bool on) override { m_setting.setCropEnable(on); }
    bool isCropLetterboxAuto() const override { return m_setting.cropLetterboxAuto(); }
    void setCropLetterboxAuto(bool on) override { m_setting.setCropLetterboxAuto(on); }
    quint32 indexOfCropAspect() const override { return m_setting.cropAspectIndex(); }
    void setIndexOfCropAspect(quint32 index) override { m_setting.setCropAspectIndex(index); }
    bool autoExpandToProfileRes() const override { return m_setting.autoExpandToProfile(); }
    void setAutoExpandToProfileRes(bool on) override { m_setting.setAutoExpandToProfile(on); }
    QRectF cropRect() const override;
    void setCropRect(const QRectF& pixels) override;

    bool isEnableEffect() const override { return m_setting.effectEnable(); }
    void setEnableEffect(bool on) override { m_setting.setEffectEnable(on); }
    quint32 indexOfEffect() const override { return m_setting.effectIndex(); }
    void setIndexOfEffect(quint32 index) override { m_setting.setEffectIndex(index); }

    bool isEnableSubtitleEdit() const override { return m_setting.subtitleEnable(); }
    void setEnableSubtitleEdit(bool on) override { m_setting.setSubtitleEnable(on); }
    quint32 indexOfSubtitleType() const override;
    quint32 indexOfInnerSubtitle() const override;
    QStringList innerSubtitlesName() const override;
    QString extraSubtitlePath() const override;
    QString extraSubtitleLanguage() const override;
    void setExtraSubtitleLanguage(const QString& language) override;
    void addExtraSubtitle(const QString& path) override;
    void selectSubtitleAtIndex(qint32 index, bool extraSubtitle) override;
    quint32 subtitlePos() const override { return m_setting.position(); }
    void setSubtitlePos(quint32 position) override { m_setting.setPosition(position); }

    bool isEnableWatermark() const override { return m_setting.watermarkEnable(); }
    void setEnableWatermark(bool on) override { m_setting.setWatermarkEnable(on); }
    quint32 typeOfWatermark() const override { return m_setting.watermarkType(); }
    void setTypeOfWatermark(quint32 type) override { m_setting.setWatermarkType(type); }
    QString imagePathOfWatermark() const override { return m_setting.watermarkImagePath(); }
    void setImagePathOfWatermark(const QString& path) override
    {
        m_setting.setWatermarkImagePath(path);
    }
    QString textOfWatermark() const override { return m_setting.watermarkText(); }
    void setTextOfWatermark(const QString& text) override { m_setting.setWatermarkText(text); }
    quint32 watermarkTransparency() const override { return m_setting.watermarkTransparency(); }
    void setWatermarkTransparency(quint32 percent) override
    {
        m_setting.setWatermarkTransparency(percent);
    }
    DNWatermarkFont textWatermarkFont() const override { return m_setting.watermarkFont(); }
    void setTextWatermarkFont(const DNWatermarkFont& font) override
    {
        m_setting.setWatermarkFont(font);
    }
    QColor textWatermarkColor() const override { return m_setting.watermarkColor(); }
    void setTextWatermarkColor(const QColor& colour) override
    {
        m_setting.setWatermarkColor(colour);
    }
    // The watermark picture at `size` pixels and the opacity `alpha` (0 to 1):
    // the image scaled into the size, or the text drawn to fill it in the
    // setting's font and colour; a new PNG file in the temporary folder.
    // Empty, with a log line, when there is nothing to draw or no file.
    QString pathOfWatermarkFile(const QSize& size, double alpha) const;
    // Why the image watermark chosen cannot be drawn (no file, not a picture,
    // beyond the decoder's pixel limit); empty when it can, or when no image
    // watermark is on.
    QString watermarkPictureProblem() const;
    QRectF watermarkRect() const override;
    void setWatermarkRect(const QRectF& pixels) override;

    QSizeF resolutionOfSelectedVideoTrack() const override;
    void setResolutionOfSelectedVideoTrack(const QSizeF& size) override;
    quint32 currentVideoTrackDuration() const override;
    void setCurrentVideoTrackDuration(quint32 seconds) override;

protected:
    DNFileNode(NXMediaType type, const QString& path);

private:
    qint32 innerSubtitleCount() const;
    const DNTExtSubtitle* lastExtSubtitle() const;
    float selectedTrackDuration() const;
    QSizeF selectedTrackSize() const;

    QString m_path;
    QString m_fileFormat;
    QString m_title;
    QString m_performer;
    QString m_comment;
    double m_duration = 0.0;
    bool m_sameStreams = false;
    QImage m_thumbnail;
    std::vector<DNTVideo> m_videoTracks;
    std::vector<DNAudioTrack> m_audioTracks;
    std::vector<DNSubtitleTrack> m_subtitleTracks;
    DNNodeSetting m_setting;
    std::shared_ptr<DNProfile> m_profile;
    DNNodeInfo m_nodeInfo;
    QString m_outputName;
};
