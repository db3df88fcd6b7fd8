#pragma once

#include "model/DNDVDTitle.h"
#include "model/DNNodeInfo.h"
#include "model/DNVideoEditProtocol.h"
#include "model/NXBasicMediaNode.h"
#include "model/NXDVDSourceInfo.h"
#include "model/NXMPlayerPlaybackProtocol.h"

#include <QString>

#include <atomic>
#include <memory>
#include <vector>

class DNProfile;

// A DVD source on the conversion list: its titles (the node's children, in
// the disc's order), where it comes from, one output profile and one output
// metadata record for all its titles. The editor works on the title the
// user picked (`titleSelected`); a conversion takes every title whose
// `isSelected` is set, one by one or merged into one output.
class DNDVDNode : public NXBasicMediaNode,
                  public DNVideoEditProtocol,
                  public NXMPlayerPlaybackProtocol {
public:
    static constexpr NXNodeClass kNodeClass = NXNodeClass::DVDNode;

    explicit DNDVDNode(const NXDVDSourceInfo& source = {});

    // Reads the source's titles into a new node, with its output metadata,
    // the longest title chosen and selected. Null, with the reason in the log
    // and in `failure`, when the source holds no readable title. Blocks while
    // the disc is read: call it from a loader thread.
    static std::shared_ptr<DNDVDNode> dvdNodeWithSourceInfo(
        const NXDVDSourceInfo& source, QString* failure = nullptr);

    NXNodeClass nodeClass() const override { return kNodeClass; }

    virtual std::vector<std::shared_ptr<DNDVDTitle>> titles() const;
    // The title at a position of `titles`, or null.
    std::shared_ptr<DNDVDTitle> titleAt(qint32 index) const;
    void appendTitle(const std::shared_ptr<DNDVDTitle>& title) { appendChild(title); }

    const NXDVDSourceInfo& sourceInfo() const { return m_sourceInfo; }
    void setSourceInfo(const NXDVDSourceInfo& source) { m_sourceInfo = source; }
    // The conversion worker lends the node another profile while it merges
    // titles, as the list reads the profile for its rows: the pointer is
    // swapped atomically.
    std::shared_ptr<DNProfile> profile() const override { return m_profile.load(); }
    void setProfile(std::shared_ptr<DNProfile> profile) { m_profile.store(std::move(profile)); }
    const DNNodeInfo& nodeInfo() const { return m_nodeInfo; }
    void setNodeInfo(const DNNodeInfo& info) { m_nodeInfo = info; }

    // The selected titles become one output.
    bool mergeIntoOne() const { return m_mergeIntoOne; }
    void setMergeIntoOne(bool merge) { m_mergeIntoOne = merge; }

    // The position in `titles` of the title the editor and the player show;
    // negative for none.
    qint32 titleSelected() const { return m_titleSelected; }
    void setTitleSelected(qint32 index) { m_titleSelected = index; }
    // The display aspect of that title's chosen video track; empty for none.
    QSizeF aspectOfSelectedVideoTrack() const;

    // The editor's record is the selected title's own setting.
    DNDVDTitleSetting editSetting() const { return currentSetting(); }
    void setEditSetting(const DNDVDTitleSetting& setting);

    QStringList NXMPlayerPlaybackParameters() const override;

    bool isMirror() const override { return currentSetting().mirror(); }
    void setMirror(bool on) override;
    quint32 rotationAngle() const override;
    void setRotationAngle(quint32 degrees) override;

    bool isEnableGeneral() const override { return currentSetting().generalEnable(); }
    void setEnableGeneral(bool on) override;
    quint32 generalVolume() const override { return currentSetting().volume(); }
    void setGeneralVolume(quint32 percent) override;
    void resetGeneral() override { setGeneralVolume(100); }

    bool isEnableTrimming() const override { return currentSetting().trimEnable(); }
    void setEnableTrimming(bool on) override;
    quint32 trimStartTime() const override;
    void setTrimStartTime(quint32 seconds) override;
    quint32 trimEndTime() const override;
    void setTrimEndTime(quint32 seconds) override;

    bool isEnableCrop() const override { return currentSetting().cropEnable(); }
    void setEnableCrop(bool on) override;
    bool isCropLetterboxAuto() const override { return currentSetting().cropLetterboxAuto(); }
    void setCropLetterboxAuto(bool on) override;
    quint32 indexOfCropAspect() const override { return currentSetting().cropAspectIndex(); }
    void setIndexOfCropAspect(quint32 index) override;
    bool autoExpandToProfileRes() const override { return currentSetting().autoExpandToProfile(); }
    void setAutoExpandToProfileRes(bool on) override;
    QRectF cropRect() const override;
    void setCropRect(const QRectF& pixels) override;

    bool isEnableEffect() const override { return currentSetting().effectEnable(); }
    void setEnableEffect(bool on) override;
    quint32 indexOfEffect() const override { return currentSetting().effectIndex(); }
    void setIndexOfEffect(quint32 index) override;

    bool isEnableSubtitleEdit() const override { return currentSetting().subtitleEnable(); }
    void setEnableSubtitleEdit(bool on) override;
    quint32 indexOfSubtitleType() const override;
    quint32 indexOfInnerSubtitle() const override;
    QStringList innerSubtitlesName() const override;
    QString extraSubtitlePath() const override;
    QString extraSubtitleLanguage() const override;
    void setExtraSubtitleLanguage(const QString& language) override;
    void addExtraSubtitle(const QString& path) override;
    void selectSubtitleAtIndex(qint32 index, bool extraSubtitle) override;
    quint32 subtitlePos() const override { return currentSetting().position(); }
    void setSubtitlePos(quint32 position) override;

    bool isEnableWatermark() const override { return currentSetting().watermarkEnable(); }
    void setEnableWatermark(bool on) override;
    quint32 typeOfWatermark() const override { return currentSetting().watermarkType(); }
    void setTypeOfWatermark(quint32 type) override;
    QString imagePathOfWatermark() const override { return currentSetting().watermarkImagePath(); }
    void setImagePathOfWatermark(const QString& path) override;
    QString textOfWatermark() const override { return currentSetting().watermarkText(); }
    void setTextOfWatermark(const QString& text) override;
    quint32 watermarkTransparency() const override
    {
        return currentSetting().watermarkTransparency();
    }
    void setWatermarkTransparency(quint32 percent) override;
    DNWatermarkFont textWatermarkFont() const override { return currentSetting().watermarkFont(); }
    void setTextWatermarkFont(const DNWatermarkFont& font) override;
    QColor textWatermarkColor() const override { return currentSetting().watermarkColor(); }
    void setTextWatermarkColor(const QColor& colour) override;
    QRectF watermarkRect() const override;
    void setWatermarkRect(const QRectF& pixels) override;

    QSizeF resolutionOfSelectedVideoTrack() const override;
    void setResolutionOfSelectedVideoTrack(const QSizeF& size) override;
    quint32 currentVideoTrackDuration() const override;
    void setCurrentVideoTrackDuration(quint32 seconds) override;

protected:
    DNDVDNode(NXMediaType type, const NXDVDSourceInfo& source);

private:
    std::shared_ptr<DNDVDTitle> selectedTitle() const;
    // The selected title's setting, or a fresh one when no title is selected.
    DNDVDTitleSetting currentSetting() const;
    // Applies an edit to the selected title's setting; nothing without one.
    template<class Change> void edit(Change&& change)
    {
        if (const auto title = selectedTitle())
            change(title->setting());
    }
    qint32 discSubtitleCount() const;
    QSizeF selectedPictureSize() const;

    NXDVDSourceInfo m_sourceInfo;
    std::atomic<std::shared_ptr<DNProfile>> m_profile;
    DNNodeInfo m_nodeInfo;
    bool m_mergeIntoOne = false;
    qint32 m_titleSelected = -1;
};
