#pragma once

#include "download/DNYoutubeLinkNode.h"
#include "download/OnlineVideoFailure.h"

#include <QDialog>
#include <QImage>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

class DNProgressIndicator;
class DNYoutubeSegmentModel;
class OnlineVideoCancel;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QThread;

// The sheet in which the user gives a video-page URL: it checks the URL as
// it is typed or pasted, analyses it off the main thread, lists the page's
// variants with the default one marked, loads the cover, and hands the
// chosen page and cover on. Only the newest analysis delivers; cancel, a new
// analysis and closing the sheet end the running one at once, with the fetch
// of a newer yt-dlp its retry may be waiting for.
class DNYoutubeParseController : public QDialog {
    Q_OBJECT
public:
    // User defaults naming the video site's hosts for the short-link rewrite.
    static inline const QString kMainHostKey = QStringLiteral("youtube_main_host");
    static inline const QString kShortHostKey = QStringLiteral("youtube_short_host");

    struct NodeAndCover {
        DNYoutubeLinkNode linkNode;
        QImage cover; // the cover shown, or the default cover
    };

    explicit DNYoutubeParseController(QWidget* parent = nullptr);
    ~DNYoutubeParseController() override;

    // Starts from an empty field and no result, and opens on `window`.
    void displayPanelWithWindow(QWidget* window);
    // True when `text` is a URL the sheet takes (despite the name).
    static bool isURLInvalied(const QString& text);
    // Why the sheet does not take `text`, or "" when it does.
    static QString urlProblem(const QString& text);
    // The video site's home page, on its main host.
    static QUrl siteHomePage();
    // A short link becomes the site's watch page; other URLs stay.
    static QString watchPageURL(const QString& url);
    // The image shown while there is no cover ("default_yt_cover.png").
    static QImage defaultCover();

    void userWantPasteURL();
    void userWantAnalyzeURL();
    void onOK();
    void onCancel();
    void reject() override;

    NodeAndCover needDownloadNodeAndCover() const;
    // `failure` says why there is no result.
    void finishedAnalysis(
        const std::optional<DNYoutubeLinkNode>& result, const OnlineVideoFailure& failure = {});

    const std::optional<DNYoutubeLinkNode>& currentLinkNode() const { return m_currentLinkNode; }
    qsizetype indexOfSelect() const { return m_indexOfSelect; }
    bool isURLAddressRight() const { return m_isURLAddressRight; }
    bool isReady2ClickOK() const { return m_isReady2ClickOK; }
    bool isInAnalyzingURL() const { return m_isInAnalyzingURL; }
    QLineEdit* youtubeURLAddress() const { return m_youtubeURLAddress; }
    QTableView* videoList() const { return m_videoList; }
    QLabel* imageView() const { return m_imageView; }
    QPushButton* analyzeButton() const { return m_analyzeButton; }
    QPushButton* okButton() const { return m_okButton; }
    // Why the address is not taken, or why its analysis gave nothing.
    QLabel* problemLabel() const { return m_problem; }
    // Shown with a failed analysis's reason when yt-dlp said something: it
    // shows yt-dlp's own lines in toolLinesView().
    QPushButton* showLogButton() const { return m_showLog; }
    QPlainTextEdit* toolLinesView() const { return m_toolLines; }

signals:
    // Sent a quarter of a second after OK ended the sheet.
    void userHaveChoosedWhatHeWant();
    void isURLAddressRightChanged(bool right);
    void isReady2ClickOKChanged(bool ready);
    void isInAnalyzingURLChanged(bool analysing);

private:
    void buildLayout();
    void setURLAddressRight(bool right);
    void showProblem(const QString& text, const QStringList& toolLines = {});
    void setReady2ClickOK(bool ready);
    void setInAnalyzingURL(bool analysing);
    void startAnalysis(const QString& url);
    void runOwned(std::function<void(const std::stop_token&)> work);
    void cancelAnalysis();
    // Cancels the running analysis and drops whatever it or a cover still delivers.
    void stopAnalysis();
    void startCoverLoad(const QString& url);
    void showDefaultCover();
    void showCover(quint64 generation, const QByteArray& bytes);
    void selectionChanged();
    void selectRow(qsizetype row);

    std::optional<DNYoutubeLinkNode> m_currentLinkNode;
    qsizetype m_indexOfSelect = -1;
    bool m_isURLAddressRight = false;
    bool m_isReady2ClickOK = false;
    bool m_isInAnalyzingURL = false;
    QImage m_cover;
    // Each analysis has a number; a result or cover of an older one is dropped.
    quint64 m_generation = 0;
    std::shared_ptr<OnlineVideoCancel> m_analysis;
    // Analyses and cover loads outlive no sheet: cut short and joined when it goes.
    std::stop_source m_stop;
    std::vector<std::unique_ptr<QThread>> m_threads;

    DNYoutubeSegmentModel* m_model = nullptr;
    QLineEdit* m_youtubeURLAddress = nullptr;
    QTableView* m_videoList = nullptr;
    QLabel* m_imageView = nullptr;
    QLabel* m_problem = nullptr;
    QPushButton* m_showLog = nullptr;
    QPlainTextEdit* m_toolLines = nullptr;
    DNProgressIndicator* m_progressIndicator = nullptr;
    QPushButton* m_analyzeButton = nullptr;
    QPushButton* m_okButton = nullptr;
};
