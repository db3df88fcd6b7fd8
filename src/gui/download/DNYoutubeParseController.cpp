#include "download/DNYoutubeParseController.h"

#include "controls/DNProgressIndicator.h"
#include "download/DNYoutubeParser.h"
#include "download/DNYoutubeProxy.h"
#include "download/DNYoutubeSegmentModel.h"
#include "download/OnlineVideoLibrary.h"
#include "http/NXHTTPRequest.h"
#include "platform/DNLogger.h"
#include "platform/UserDefaults.h"
#include "services/DNSetting.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr QSize kCoverSize { 160, 90 };

// The analysis with one retry after asking for a newer analyser, as the log
// tells it; `failure` says why it gave nothing. A cancelled analysis ends
// without a word, and so does the newer analyser's fetch.
std::optional<DNYoutubeLinkNode> analyseWithRetry(const QString& url,
    const std::shared_ptr<OnlineVideoCancel>& cancel, OnlineVideoFailure* failure)
{
    constexpr std::chrono::milliseconds kTimeLimit { 60000 };
    DNLog(QStringLiteral("will begin youtube website parse with URL: %1").arg(url));
    QString library = DNYoutubeParseLibrary::youtubeParseDylibPath();
    DNLog(QStringLiteral("lib Path: %1").arg(library));
    std::optional<DNYoutubeLinkNode> result
        = DNYoutubeParser::analysisYoutubeWebSource(url, library, cancel, kTimeLimit, failure);
    if (!cancel->isCancelled() && !result) {
        DNLog(QStringLiteral("Parse failed, try again"));
        if (DNYoutubeParseLibrary::downloadLatestYoutubeParseLib(
                DNYoutubeParseLibrary::latestReleaseAddress(), cancel->stopToken())) {
            library = DNYoutubeParseLibrary::youtubeParseDylibPath();
            DNLog(QStringLiteral("Again: %1").arg(library));
            result = DNYoutubeParser::analysisYoutubeWebSource(
                url, library, cancel, kTimeLimit, failure);
        }
    }
    if (cancel->isCancelled())
        return std::nullopt;
    if (!result)
        DNLog(QStringLiteral("Warning: Parse youtube website failed"));
    DNLog(QStringLiteral("will finish youtube website parse with URL: %1").arg(url));
    return result;
}

// A cover is a small picture: a page that names a huge or endless file must
// not fill memory, so the download ends past this size.
constexpr qsizetype kMaxCoverBytes = 8 * 1024 * 1024;

// The cover's bytes as they arrive on the main thread, where the request hands
// them (before the end of the request is posted there).
struct CoverBody {
    QByteArray bytes;
    bool tooLarge = false;
};

// Downloads the cover at `url` into `body`; false when the download failed,
// was refused by the server or grew past kMaxCoverBytes.
bool fetchCover(
    const QString& url, const std::shared_ptr<CoverBody>& body, const std::stop_token& stop)
{
    const auto request = NXHTTPRequest::requestWithURL(QUrl(url));
    request->setTimeOutSeconds(15);
    DNYoutubeApplyProxy(
        *request, DNYoutubeProxyAddress(DNSetting::shareSetting().downloadSetting()));
    const std::weak_ptr<NXHTTPRequest> running = request;
    request->setDataReceivedBlock([body, running](const QByteArray& data) {
        if (body->tooLarge)
            return;
        if (body->bytes.size() + data.size() <= kMaxCoverBytes) {
            body->bytes.append(data);
            return;
        }
        body->tooLarge = true;
        body->bytes.clear();
        DNLog(QStringLiteral("The cover is larger than %1 bytes; it is not shown.")
                  .arg(kMaxCoverBytes));
        if (const auto live = running.lock())
            live->cancel();
    });
    const std::stop_callback cancelled(stop, [request] { request->cancel(); });
    request->startSynchronous();
    return request->error().isNull() && request->responseStatusCode() < 400;
}

// Runs `work` on the main thread later, unless the sheet is gone by then.
void onMainThread(const QPointer<DNYoutubeParseController>& sheet,
    std::function<void(DNYoutubeParseController&)> work)
{
    QMetaObject::invokeMethod(
        qApp,
        [sheet, work = std::move(work)] {
            if (sheet)
                work(*sheet);
        },
        Qt::QueuedConnection);
}

QString hostAndPort(const QUrl& url)
{
    return url.port() < 0 ? url.host() : QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
}

} // namespace

DNYoutubeParseController::DNYoutubeParseController(QWidget* parent)
    : QDialog(parent)
    , m_model(new DNYoutubeSegmentModel(m_currentLinkNode, this))
{
    setWindowTitle(QStringLiteral("Add URL"));
    setWindowModality(Qt::WindowModal);
    buildLayout();
}

DNYoutubeParseController::~DNYoutubeParseController()
{
    cancelAnalysis();
    m_stop.request_stop();
    for (const auto& thread : m_threads)
        thread->wait();
}

// Runs `work` on a thread of its own. A QThread, not a plain one: the requests
// made there need its timers for their time-outs.
void DNYoutubeParseController::runOwned(std::function<void(const std::stop_token&)> work)
{
    std::erase_if(m_threads, [](const auto& thread) { return thread->isFinished(); });
    m_threads.emplace_back(QThread::create(std::move(work), m_stop.get_token()));
    m_threads.back()->start();
}

void DNYoutubeParseController::buildLayout()
{
    m_youtubeURLAddress = new QLineEdit(this);
    m_youtubeURLAddress->setPlaceholderText(QStringLiteral("http://"));
    connect(m_youtubeURLAddress, &QLineEdit::textChanged, this, [this](const QString& text) {
        const QString problem = text.trimmed().isEmpty() ? QString() : urlProblem(text.trimmed());
        setURLAddressRight(problem.isEmpty() && !text.trimmed().isEmpty());
        showProblem(problem);
    });
    auto* paste = new QPushButton(QStringLiteral("Paste"), this);
    connect(paste, &QPushButton::clicked, this, &DNYoutubeParseController::userWantPasteURL);
    m_analyzeButton = new QPushButton(QStringLiteral("Analyze"), this);
    m_analyzeButton->setEnabled(false);
    connect(m_analyzeButton, &QPushButton::clicked, this,
        &DNYoutubeParseController::userWantAnalyzeURL);
    connect(this, &DNYoutubeParseController::isURLAddressRightChanged, m_analyzeButton,
        &QWidget::setEnabled);

    m_videoList = new QTableView(this);
    m_videoList->setModel(m_model);
    m_videoList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_videoList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_videoList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_videoList->verticalHeader()->setDefaultSectionSize(18);
    m_videoList->verticalHeader()->hide();
    // The five columns share the width; the mark takes only its box.
    m_videoList->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_videoList->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    connect(m_videoList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &DNYoutubeParseController::selectionChanged);

    m_imageView = new QLabel(this);
    m_imageView->setFixedSize(kCoverSize);
    m_progressIndicator = new DNProgressIndicator(this);
    m_progressIndicator->hide();
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_problem->hide();
    // yt-dlp's own words stay out of the message, one click away.
    m_showLog = new QPushButton(QStringLiteral("Show Log"), this);
    m_showLog->hide();
    m_toolLines = new QPlainTextEdit(this);
    m_toolLines->setReadOnly(true);
    m_toolLines->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_toolLines->hide();
    connect(m_showLog, &QPushButton::clicked, m_toolLines, &QWidget::show);

    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setEnabled(false);
    connect(m_okButton, &QPushButton::clicked, this, &DNYoutubeParseController::onOK);
    connect(
        this, &DNYoutubeParseController::isReady2ClickOKChanged, m_okButton, &QWidget::setEnabled);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel, &QPushButton::clicked, this, &DNYoutubeParseController::onCancel);

    auto* urlRow = new QHBoxLayout;
    urlRow->addWidget(m_youtubeURLAddress, 1);
    urlRow->addWidget(paste);
    urlRow->addWidget(m_analyzeButton);
    auto* resultRow = new QHBoxLayout;
    resultRow->addWidget(m_imageView, 0, Qt::AlignTop);
    resultRow->addWidget(m_videoList, 1);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(m_progressIndicator);
    buttonRow->addStretch(1);
    buttonRow->addWidget(cancel);
    buttonRow->addWidget(m_okButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(urlRow);
    auto* problemRow = new QHBoxLayout;
    problemRow->addWidget(m_problem, 1);
    problemRow->addWidget(m_showLog, 0, Qt::AlignTop);
    layout->addLayout(problemRow);
    layout->addWidget(m_toolLines);
    layout->addLayout(resultRow, 1);
    layout->addLayout(buttonRow);
    resize(520, 260);
}

void DNYoutubeParseController::displayPanelWithWindow(QWidget* window)
{
    cancelAnalysis();
    setReady2ClickOK(false);
    setURLAddressRight(false);
    setInAnalyzingURL(false);
    m_currentLinkNode.reset();
    m_indexOfSelect = -1;
    m_model->reload();
    m_youtubeURLAddress->clear();
    showDefaultCover();
    if (window && parentWidget() != window)
        setParent(window, windowFlags());
    open();
}

bool DNYoutubeParseController::isURLInvalied(const QString& text)
{
    return urlProblem(text).isEmpty();
}

QString DNYoutubeParseController::urlProblem(const QString& text)
{
    if (!text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        && !text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        return QStringLiteral("The address must begin with http:// or https://.");
    if (!text.contains(QLatin1String("youtu"), Qt::CaseInsensitive))
        return QStringLiteral("Only addresses of the video site are taken: the site's pages "
                              "and short links, with \"youtu\" in them.");
    return {};
}

void DNYoutubeParseController::showProblem(const QString& text, const QStringList& toolLines)
{
    m_problem->setText(text);
    m_problem->setVisible(!text.isEmpty());
    m_toolLines->setPlainText(toolLines.join(QLatin1Char('\n')));
    m_toolLines->hide();
    m_showLog->setVisible(!toolLines.isEmpty());
}

namespace {

QString mainHost()
{
    return UserDefaults::standard()
        .value(DNYoutubeParseController::kMainHostKey, QStringLiteral("www.youtube.com"))
        .toString();
}

} // namespace

QUrl DNYoutubeParseController::siteHomePage()
{
    return QUrl(QStringLiteral("https://%1/").arg(mainHost()));
}

QString DNYoutubeParseController::watchPageURL(const QString& url)
{
    const UserDefaults& defaults = UserDefaults::standard();
    const QString shortHost = defaults.value(kShortHostKey, QStringLiteral("youtu.be")).toString();
    const QUrl link(url);
    if (hostAndPort(link) != shortHost)
        return url;
    const QString videoID = link.path().section(QLatin1Char('/'), -1);
    return QStringLiteral("http://%1/watch?v=%2").arg(mainHost(), videoID);
}

QImage DNYoutubeParseController::defaultCover()
{
    // "default_yt_cover.png": a dark frame with a play mark.
    QImage cover(kCoverSize, QImage::Format_RGB32);
    cover.fill(QColor(48, 48, 48));
    QPainter painter(&cover);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 200, 200));
    const QPointF play[] = { { 68, 30 }, { 68, 60 }, { 96, 45 } };
    painter.drawPolygon(play, 3);
    return cover;
}

void DNYoutubeParseController::userWantPasteURL()
{
    const QString text = QGuiApplication::clipboard()->text().trimmed();
    if (!isURLInvalied(text))
        return;
    m_youtubeURLAddress->setText(text);
    setURLAddressRight(true);
    startAnalysis(text);
}

void DNYoutubeParseController::userWantAnalyzeURL()
{
    const QString text = m_youtubeURLAddress->text().trimmed();
    if (isURLInvalied(text))
        startAnalysis(text);
}

void DNYoutubeParseController::startAnalysis(const QString& url)
{
    const QString target = watchPageURL(url);
    setInAnalyzingURL(true);
    m_progressIndicator->show();
    m_progressIndicator->startAnimation();
    cancelAnalysis();
    m_analysis = std::make_shared<OnlineVideoCancel>();
    const quint64 generation = ++m_generation;
    const QPointer<DNYoutubeParseController> sheet(this);
    showProblem({});
    // The retry's fetch ends with the analysis's cancel, which Cancel, a newer
    // analysis and the sheet's end all make.
    runOwned([sheet, generation, target, cancel = m_analysis](const std::stop_token&) {
        OnlineVideoFailure failure;
        std::optional<DNYoutubeLinkNode> result = analyseWithRetry(target, cancel, &failure);
        if (cancel->isCancelled())
            return;
        onMainThread(
            sheet, [generation, result = std::move(result), failure](DNYoutubeParseController& to) {
                if (to.m_generation == generation)
                    to.finishedAnalysis(result, failure);
            });
    });
}

void DNYoutubeParseController::cancelAnalysis()
{
    if (m_analysis)
        m_analysis->cancel();
    m_analysis.reset();
}

void DNYoutubeParseController::finishedAnalysis(
    const std::optional<DNYoutubeLinkNode>& result, const OnlineVideoFailure& failure)
{
    m_currentLinkNode = result;
    m_analysis.reset();
    m_progressIndicator->stopAnimation();
    m_progressIndicator->hide();
    m_indexOfSelect = -1;
    if (m_currentLinkNode && !m_currentLinkNode->videosSegments.isEmpty()) {
        // The page before's cover never goes on with this one.
        showDefaultCover();
        m_indexOfSelect
            = DNYoutubeParser::foundBestOneForApplePlatform(m_currentLinkNode->videosSegments);
        m_currentLinkNode->videosSegments[m_indexOfSelect].isSelected = true;
        m_model->reload();
        selectRow(m_indexOfSelect);
        setReady2ClickOK(true);
        startCoverLoad(m_currentLinkNode->covers.value(0));
    } else {
        m_model->reload();
        setReady2ClickOK(false);
        showProblem(
            QStringLiteral("No video to download: %1")
                .arg(failure.isEmpty() ? QStringLiteral("the page offers none") : failure.reason),
            failure.toolLines);
    }
    setInAnalyzingURL(false);
}

void DNYoutubeParseController::startCoverLoad(const QString& url)
{
    const QUrl address(url);
    if (address.scheme() != QLatin1String("http") && address.scheme() != QLatin1String("https"))
        return;
    const QPointer<DNYoutubeParseController> sheet(this);
    runOwned([sheet, generation = m_generation, url](const std::stop_token& stop) {
        const auto body = std::make_shared<CoverBody>();
        const bool fetched = fetchCover(url, body, stop);
        onMainThread(sheet, [generation, fetched, body](DNYoutubeParseController& to) {
            if (fetched && !body->tooLarge)
                to.showCover(generation, body->bytes);
        });
    });
}

void DNYoutubeParseController::showDefaultCover()
{
    m_cover = defaultCover();
    m_imageView->setPixmap(QPixmap::fromImage(m_cover));
}

void DNYoutubeParseController::showCover(quint64 generation, const QByteArray& bytes)
{
    if (generation != m_generation || bytes.isEmpty())
        return;
    const QImage image = QImage::fromData(bytes);
    m_cover = image.isNull() ? defaultCover() : image;
    m_imageView->setPixmap(QPixmap::fromImage(
        m_cover.scaled(kCoverSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void DNYoutubeParseController::selectRow(qsizetype row)
{
    m_videoList->selectRow(static_cast<int>(row));
}

void DNYoutubeParseController::selectionChanged()
{
    if (!m_currentLinkNode || m_indexOfSelect < 0)
        return;
    const QModelIndexList rows = m_videoList->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        // A click outside the rows: the chosen variant stays chosen.
        selectRow(m_indexOfSelect);
        return;
    }
    const qsizetype row = rows.first().row();
    if (row == m_indexOfSelect || row >= m_currentLinkNode->videosSegments.size())
        return;
    m_currentLinkNode->videosSegments[m_indexOfSelect].isSelected = false;
    m_currentLinkNode->videosSegments[row].isSelected = true;
    m_indexOfSelect = row;
    m_videoList->viewport()->update();
}

void DNYoutubeParseController::onOK()
{
    // What the list shows is what goes on: a newer analysis still running
    // would replace it after the sheet has ended.
    if (m_analysis)
        stopAnalysis();
    accept();
    QTimer::singleShot(250, this, &DNYoutubeParseController::userHaveChoosedWhatHeWant);
}

void DNYoutubeParseController::onCancel()
{
    reject();
}

void DNYoutubeParseController::reject()
{
    stopAnalysis();
    m_currentLinkNode.reset();
    m_indexOfSelect = -1;
    m_model->reload();
    setReady2ClickOK(false);
    QDialog::reject();
}

void DNYoutubeParseController::stopAnalysis()
{
    cancelAnalysis();
    ++m_generation;
    m_progressIndicator->stopAnimation();
    m_progressIndicator->hide();
    setInAnalyzingURL(false);
}

DNYoutubeParseController::NodeAndCover DNYoutubeParseController::needDownloadNodeAndCover() const
{
    return { m_currentLinkNode.value_or(DNYoutubeLinkNode {}),
        m_cover.isNull() ? defaultCover() : m_cover };
}

void DNYoutubeParseController::setURLAddressRight(bool right)
{
    if (m_isURLAddressRight == right)
        return;
    m_isURLAddressRight = right;
    emit isURLAddressRightChanged(right);
}

void DNYoutubeParseController::setReady2ClickOK(bool ready)
{
    if (m_isReady2ClickOK == ready)
        return;
    m_isReady2ClickOK = ready;
    emit isReady2ClickOKChanged(ready);
}

void DNYoutubeParseController::setInAnalyzingURL(bool analysing)
{
    if (m_isInAnalyzingURL == analysing)
        return;
    m_isInAnalyzingURL = analysing;
    emit isInAnalyzingURLChanged(analysing);
}
