// The slideshow editor over an album of photos made at test time.
#include "../GuiTestSupport.h"
#include "SlideshowTestSupport.h"

#include "slideshow/DNImageBrowser.h"
#include "slideshow/DNImageEditor.h"
#include "slideshow/NXEffectManager.h"
#include "slideshow/SlideshowView.h"
#include "support/TestFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QStringList titles(const std::vector<DNImageNode>& records)
{
    QStringList names;
    for (const DNImageNode& record : records)
        names << QFileInfo(record.path).fileName();
    return names;
}

QStringList photoNames(const DNGraphicsNode& album)
{
    QStringList names;
    for (const DNImageNode& record : album.imageNodes())
        names << titles(record.imageNodes);
    return names;
}

void selectRows(DNImageBrowserView& browser, const QList<int>& rows)
{
    browser.clearSelection();
    for (int row : rows)
        browser.selectionModel()->select(
            browser.model()->index(row, 0), QItemSelectionModel::Select);
}

QString makeTone(const QString& path, int seconds)
{
    QProcess::execute("ffmpeg",
        { "-v", "error", "-y", "-f", "lavfi", "-i",
            QString("sine=frequency=440:duration=%1").arg(seconds), path });
    return path;
}

class SlideshowEditor : public ::testing::Test {
protected:
    void SetUp() override
    {
        editor = new DNImageEditor(dialogs, &window);
        editor->setClock(time.clock());
        open();
    }
    void TearDown() override { delete editor; }
    void open()
    {
        editor->setGraphicsNode(photos.album);
        editor->displayOnWindow(&window);
    }

    QWidget window;
    ScriptedDialogs dialogs;
    TestAlbum photos;
    DNGraphicsNode& album = *photos.album;
    ManualClock time;
    DNImageEditor* editor = nullptr;
};

TEST_F(SlideshowEditor, BrowserChangesReachTheAlbumAtOnceAndStayOnCancel)
{
    ASSERT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(editor->moveRecords({ 1 }, 0));
    EXPECT_EQ(titles(album.imageNodes()), QStringList({ "Home", "Trip" }));

    editor->openRecord(1);
    EXPECT_TRUE(editor->stateOfGoRoot());
    DNImageBrowserView& browser = *editor->imageBrowserView();
    const QModelIndex photo = browser.model()->index(0, 0);
    EXPECT_FALSE(browser.model()->flags(photo) & Qt::ItemIsDragEnabled);
    EXPECT_EQ(photo.data().toString(), "a.jpg");
    EXPECT_TRUE(
        waitUntil([&] { return !photo.data(Qt::DecorationRole).value<QImage>().isNull(); }));
    EXPECT_FALSE(editor->moveRecords({ 2 }, 0));
    selectRows(browser, { 0, 2 });
    editor->onRemove();
    EXPECT_EQ(photoNames(album), QStringList({ "d.png", "e.png", "b.jpg" }));

    editor->onGoToRoot();
    editor->sortBy()->setCurrentIndex(DNImageEditor::SortByName);
    editor->sortType()->setCurrentIndex(1);
    editor->onSortImageTypeChanged();
    EXPECT_EQ(photoNames(album), QStringList({ "e.png", "d.png", "b.jpg" }));

    editor->onCancel();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(photoNames(album), QStringList({ "e.png", "d.png", "b.jpg" }));
    EXPECT_EQ(album.setting()->sortby(), DNGraphicsSetting::kSortByPosition);
    EXPECT_EQ(album.setting()->ascOrDesc(), DNGraphicsSetting::kAscending);
    open();
    EXPECT_EQ(editor->sortBy()->currentIndex(), DNImageEditor::SortByPosition);
    EXPECT_EQ(editor->sortType()->currentIndex(), 0);
    dialogs.folders = { photos.path("Empty"), photos.path("Trip") };
    editor->onAddPhotoFolder();
    EXPECT_EQ(titles(album.imageNodes()), QStringList({ "Home", "Trip", "Trip" }));
    EXPECT_TRUE(dialogs.alerts.empty());

    // What the album will not show is named; the rest is added.
    ASSERT_TRUE(QDir().mkpath(photos.path("Phone")));
    ASSERT_TRUE(QFile::copy(photos.path("Trip/a.jpg"), photos.path("Phone/f.jpg")));
    ASSERT_TRUE(writeTestFile(photos.path("Phone/g.heic"), "ftypheic"));
    ASSERT_TRUE(writeTestFile(photos.path("Phone/h.jpg"), {}));
    dialogs.folders = { photos.path("Phone") };
    editor->onAddPhotoFolder();
    EXPECT_EQ(titles(album.imageNodes().back().imageNodes), QStringList({ "f.jpg" }));
    ASSERT_EQ(dialogs.alerts.size(), 1U);
    EXPECT_EQ(dialogs.alerts[0].title, "Some photos were left out.");
    QStringList lines = dialogs.alerts[0].text.split('\n');
    lines.sort();
    EXPECT_EQ(lines,
        QStringList({ photos.path("Phone/g.heic") + ": HEIC pictures are not taken",
            photos.path("Phone/h.jpg") + ": an empty file" }));
    editor->onCancel();
}

TEST_F(SlideshowEditor, MusicFitsTheDisplayTime)
{
    // 13 s and 9 s of music over 5 photos: 5 s each (22 / 5 rounded up). A
    // FIFO, which would keep the sheet waiting, is refused and said.
    const QString fifo = photos.path("radio.mp3");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    dialogs.filesToOpen = { makeTone(photos.path("song.mp3"), 13), fifo,
        makeTone(photos.path("tune.m4a"), 9), photos.path("notes.txt") };
    editor->addMovieMusic();
    EXPECT_EQ(dialogs.askedTypes, QStringList({ "mp3", "m4a" }));
    ASSERT_EQ(album.audioTracks().size(), 2U);
    ASSERT_EQ(dialogs.alerts.size(), 1U);
    EXPECT_EQ(dialogs.alerts[0].text,
        "\"radio.mp3\": it is not a regular file.\nPlease choose music files.");
    EXPECT_TRUE(editor->stateOfAutoCaltulate());
    EXPECT_EQ(album.setting()->interval(), 5.0f);
    EXPECT_EQ(
        editor->display_durations(), QStringList({ "5.0", "2.0", "4.0", "6.0", "8.0", "10.0" }));
    QTableWidget& table = *editor->audioList();
    EXPECT_EQ(table.horizontalHeaderItem(0)->text(), "File");
    EXPECT_EQ(table.horizontalHeaderItem(1)->text(), "Duration");
    EXPECT_EQ(table.item(0, 0)->text(), "song.mp3");
    EXPECT_EQ(table.item(1, 1)->text(), "00:00:09");

    editor->buttonCellClick();
    EXPECT_EQ(album.audioTracks().size(), 2U);
    for (int left = 1; left >= 0; --left) {
        table.selectRow(0);
        editor->buttonCellClick();
        EXPECT_EQ(album.audioTracks().size(), static_cast<std::size_t>(left));
    }
    EXPECT_EQ(editor->display_durations().first(), "1.0");
    EXPECT_EQ(editor->valueOfDuration(), "1.0");
    editor->setValueOfDuration("1.0");
    EXPECT_EQ(album.setting()->interval(), 2.0f);
    editor->onCancel();
}

TEST_F(SlideshowEditor, PreviewStepsToTheNextPhotoAndRestartsWhenTheShownOneIsGone)
{
    const std::vector<DNImageNode> before = editor->allImagesNodesWithoutFolderNode();
    editor->onPlay();
    ASSERT_NE(editor->slideshowTimer(), nullptr);
    EXPECT_EQ(editor->slideshowTimer()->interval(), 3000);
    EXPECT_EQ(editor->imageForPreviewButton(), DNImageEditor::kStopImage);

    editor->showNextSlide();
    EXPECT_EQ(editor->slideshowCurrentAsset(), before[1].path);
    EXPECT_TRUE(editor->slideshowViewer()->isTransitioning());

    editor->openRecord(0);
    selectRows(*editor->imageBrowserView(), { 1 });
    editor->onRemove();
    editor->showNextSlide();
    EXPECT_EQ(editor->slideshowCurrentAsset(), before[0].path);

    editor->onPlay();
    EXPECT_EQ(editor->slideshowTimer(), nullptr);
    EXPECT_EQ(editor->imageForPreviewButton(), DNImageEditor::kPreviewImage);

    // Escape ends the sheet as Cancel does: no timer runs behind a closed sheet.
    editor->onPlay();
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(editor->slideshowTimer(), nullptr);
    EXPECT_EQ(editor->effectsView(), nullptr);
}

TEST_F(SlideshowEditor, TickedCellsBecomeTheAlbumTransitionsAndThePreviewIsLoweredOnce)
{
    DNEffectPreview* grid = editor->effectsView();
    ASSERT_NE(grid, nullptr);
    ASSERT_EQ(grid->cells().size(), 18);
    QList<qint64> sent { -1 };
    QObject::connect(grid, &DNEffectPreview::effectsSelectionChanged,
        [&](const QList<qint64>& selected) { sent = selected; });
    for (EffectPreviewWrapper* cell : grid->cells())
        if (cell->state())
            cell->checkButton()->click();
    EXPECT_EQ(sent, QList<qint64> {});
    EXPECT_EQ(*album.setting()->transitions(), QList<qint64> {});
    for (int number : { 14, 0, 3 })
        grid->cells().at(number)->checkButton()->click();
    EXPECT_EQ(sent, QList<qint64>({ 0, 3, 14 }));
    EXPECT_EQ(*album.setting()->transitions(), sent);
    EXPECT_EQ(editor->slideshowViewer()->allowTransitionStyles(), sent);

    const int lowered = editor->slideshowViewer()->height();
    EXPECT_EQ(lowered, 420 - grid->height());
    editor->onTransitionPressed();
    EXPECT_EQ(editor->effectsView(), nullptr);
    editor->onTransitionPressed();
    editor->onCancel();
    open();
    EXPECT_EQ(editor->slideshowViewer()->height(), lowered);
    EXPECT_TRUE(editor->effectsView()->cells().at(3)->state());
    EXPECT_FALSE(editor->effectsView()->cells().at(4)->state());
    editor->onCancel();
}

TEST(SlideshowView, AFrameMidTransitionIsTheFilterOutputForItsTime)
{
    const QSize size(120, 80);
    QImage from(size, QImage::Format_ARGB32_Premultiplied);
    from.fill(QColor(200, 40, 40));
    QImage to(size, QImage::Format_ARGB32_Premultiplied);
    to.fill(QColor(30, 90, 220));
    QPainter(&to).fillRect(QRect(20, 10, 40, 30), Qt::yellow);
    for (const qint64 style : { NXTransitionFlash, NXTransitionFade, NXTransitionRotation }) {
        for (const qint64 elapsed : { 250, 600 }) {
            ManualClock time;
            SlideshowView view;
            view.resize(size);
            view.setClock(time.clock());
            view.displayDefaultImage(from);
            view.setAllowTransitionStyles({ style });
            view.transitionToImage(to);
            time.now += elapsed;

            auto filter = NXEffectManager::independentFilterWithType(style);
            NXEffectManager::prepareFilterForShowing(
                *filter, style, QRectF(QPointF(0, 0), size), NXEffectManager::shadingImage());
            QImage expected(size, QImage::Format_ARGB32_Premultiplied);
            expected.fill(Qt::black);
            QPainter(&expected).drawImage(0, 0, filter->render(from, to, elapsed / 1000.0));
            EXPECT_EQ(view.grab().toImage().convertToFormat(expected.format()), expected)
                << "style " << style << " at " << elapsed << " ms";
        }
    }
}

} // namespace
