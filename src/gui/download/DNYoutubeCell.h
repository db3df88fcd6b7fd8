#pragma once

#include "common/NXDialogs.h"
#include "download/DNYoutubeNode.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class DNButton;
class DNYoutubeImageView;
class NXProgressBar;
class NXYoutubeView;
class QComboBox;
class QLabel;
class QMenu;

// One row of the download list: the node's thumbnail, source URL, variant
// pop-up, progress and state, and its skip and remove buttons. It follows
// its node through the node's signals (state, byte count, playing mark) and
// hands the user's requests to the list that holds it.
class DNYoutubeCell : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 560;
    static constexpr int kHeight = 85;

    explicit DNYoutubeCell(QWidget* parent = nullptr);

    // Follows `node` from now on (the row is filled 0.1 s later) and
    // rebuilds the variant pop-up; null lets the row follow nothing.
    void setData(const std::shared_ptr<DNYoutubeNode>& node);
    std::shared_ptr<DNYoutubeNode> data() const { return m_data; }
    NXYoutubeView* hostTable() const { return m_hostTable; }
    void setHostTable(NXYoutubeView* host) { m_hostTable = host; }
    bool isSelected() const { return m_isSelected; }
    void setIsSelected(bool selected);
    bool isFocus() const { return m_isFocus; }
    DNYoutubeImageView* thumbnailView() const { return m_thumbnail; }
    // "Open" and "Show in Finder" go through these; the desktop's by default.
    void setSystemActions(NXSystemActions actions) { m_system = std::move(actions); }

    // The context menu "Option", its entries enabled for the node's state.
    QMenu* optionMenu();
    QComboBox* variantPopUp() const { return m_variants; }
    NXProgressBar* progressBar() const { return m_progressbar; }
    QLabel* stateField() const { return m_stateField; }
    QLabel* urlField() const { return m_URLField; }
    DNButton* skipButton() const { return m_skipButton; }
    DNButton* removeButton() const { return m_removeButton; }
    DNButton* playIcon() const { return m_playIcon; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildSubviews();
    void buildButtons();
    void layOutStretching();
    void refresh();
    void rebuildVariantPopUp();
    void chooseVariant(int index);
    void stateDidChange(DNYoutubeNodeState state);
    void downloadSizeDidChange(qint64 bytes);
    void isPlayingDidChange(bool playing);
    void setStateText(const QString& text, const QColor& colour);
    void showSkipButton(bool enabled, bool disabledLook);
    void openSourceURL() const;

    std::shared_ptr<DNYoutubeNode> m_data;
    QPointer<NXYoutubeView> m_hostTable;
    NXSystemActions m_system = NXSystemActions::desktop();
    bool m_isSelected = false;
    bool m_isFocus = false;
    QLabel* m_backgroundView = nullptr;
    DNYoutubeImageView* m_thumbnail = nullptr;
    DNButton* m_playIcon = nullptr;
    QLabel* m_URLField = nullptr;
    QComboBox* m_variants = nullptr;
    NXProgressBar* m_progressbar = nullptr;
    QLabel* m_stateField = nullptr;
    QWidget* m_buttonBox = nullptr;
    DNButton* m_skipButton = nullptr;
    DNButton* m_removeButton = nullptr;
    QMenu* m_menu = nullptr;
};
