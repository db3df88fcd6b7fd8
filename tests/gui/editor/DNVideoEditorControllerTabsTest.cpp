// The editor's watermark, effect and subtitle tabs: what reaches the node, on
// Done and on Apply to All, for files, merge groups and a real DVD title.
#include "editor/DNVideoEditorController.h"

#include "editor/DNWatermarkView.h"
#include "editor/NXEditMovieView.h"
#include "editor/NXViewRenderControl.h"
#include "fixtures/TestDisc.h"
#include "gui/player/PreviewTestSupport.h"
#include "model/DNDVDNode.h"
#include "model/DNFileGroupNode.h"
#include "platform/UserDefaults.h"
#include "shell/NXAppController.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<DNFileNode> clipNode(
    int width, int height, const QString& path = QStringLiteral("clip.mp4"))
{
    DNTVideo track;
    track.duration = 30;
    track.width = width;
    track.height = height;
    auto node = std::make_shared<DNFileNode>(path);
    node->setVideoTracks({ track });
    return node;
}

void open(DNVideoEditorController& editor, const NXBasicMediaNode::Ptr& node)
{
    editor.setMediaNode(node);
    editor.displayVideoEditorPanel(nullptr);
}

void expectNear(const QRectF& actual, const QRectF& expected)
{
    EXPECT_NEAR(actual.x(), expected.x(), 0.01);
    EXPECT_NEAR(actual.y(), expected.y(), 0.01);
    EXPECT_NEAR(actual.width(), expected.width(), 0.01);
    EXPECT_NEAR(actual.height(), expected.height(), 0.01);
}

} // namespace

TEST(DNVideoEditorController, WatermarkIsForAPlainFileAndTakesOnlyReadablePictures)
{
    ScriptedDialogs dialogs;
    DNVideoEditorController editor(nullptr, &dialogs);
    const struct {
        const char* name;
        std::shared_ptr<DNFileNode> node;
        bool canEnable;
    } nodes[] = {
        { "file", clipNode(720, 576), true },
        { "merge group",
            DNFileGroupNode::fileGroupNodeWithNodes({ clipNode(720, 576), clipNode(720, 576) }),
            false },
    };
    for (const auto& c : nodes) {
        SCOPED_TRACE(c.name);
        open(editor, c.node);
        EXPECT_GE(editor.indexOfTabViewItemWithIdentifier(EditorTab::kWatermark), 0);
        EXPECT_EQ(editor.indexOfTabViewItemWithIdentifier(EditorTab::kEffect), -1);
        editor.setEnableWaterMark(true);
        EXPECT_EQ(c.node->isEnableWatermark(), c.canEnable);
        editor.reject();
    }

    auto node = clipNode(720, 576);
    open(editor, node);
    editor.setWmTransparency(45.9);
    EXPECT_EQ(node->watermarkTransparency(), 45u);
    EXPECT_FLOAT_EQ(editor.watermark()->transparency(), 45.9f);
    editor.setWatermarkWidth(99999);
    EXPECT_LE(editor.watermarkWidth(), 720.01);

    QTemporaryDir folder;
    const QString noise = folder.filePath("noise.png");
    QFile file(noise);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    for (int index = 0; index < 4096; ++index)
        file.putChar(char((index * 7919) % 251));
    file.close();
    const QString red = folder.filePath("red.png");
    QImage picture(16, 16, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(red));
    editor.setWatermarkTypeIndex(0);
    dialogs.fileToOpen = red;
    editor.openImageForWatermark();
    EXPECT_EQ(dialogs.askedTypes, QStringList({ "bmp", "tif", "jpg", "jpeg", "png", "tiff" }));
    EXPECT_EQ(node->imagePathOfWatermark(), red);
    EXPECT_FALSE(editor.watermark()->image().isNull());
    dialogs.fileToOpen = noise;
    editor.openImageForWatermark();
    ASSERT_EQ(dialogs.alerts.size(), 1u);
    EXPECT_EQ(node->imagePathOfWatermark(), red) << "the refused file is not kept";

    // Text input, font and colour belong to a text watermark only (the text
    // kind's reach the output in the edited conversion test).
    editor.textWatermarkNewInput("ignored");
    editor.changeFontColor(Qt::green);
    EXPECT_TRUE(node->textOfWatermark().isEmpty());
    EXPECT_NE(node->textWatermarkColor(), QColor(Qt::green));
    // The first text typed sizes the box for all of it, not for its first letter.
    editor.setWatermarkTypeIndex(int(DNBaseEditSetting::kWatermarkText));
    QTest::keyClicks(editor.watermarkTextInput(), "QUILLON\r");
    const QRectF box = editor.watermark()->selectionArea();
    EXPECT_GT(box.width(), 2 * box.height());
}

TEST(DNVideoEditorController, DoneWritesTheWatermarkBoxApplyToAllWritesTheRest)
{
    PreviewWindow main;
    auto edited = clipNode(640, 360); // 1.6 source pixels a point
    auto other = clipNode(640, 360, QStringLiteral("other.mp4"));
    edited->setSubtitleTracks({ DNTSubtitle { 1, true, QStringLiteral("ja") } });
    edited->setEnableSubtitleEdit(true);
    edited->setTypeOfWatermark(1);
    edited->setTextOfWatermark("Hello");
    const QRectF box(96, 64, 192, 80);
    edited->setWatermarkRect(box);
    main.window->addMediaNode(edited);
    main.window->addMediaNode(other);
    // A node with no text first: the next text shown would size the box to
    // itself, yet the box the person placed stands.
    main.window->editNode(other, 0);
    auto* editor = main.window->videoEditor();
    QTest::keyClick(editor, Qt::Key_Escape);
    main.window->editNode(edited, 0);
    expectNear(editor->watermark()->selectionArea(), { 60, 40, 120, 50 });

    EXPECT_EQ(editor->effectView()->effectViews().size(), 14u);
    editor->setEnableVideoEffect(true);
    editor->effectView()->effectViewStateDidChanged(editor->effectView()->effectViews().at(5));
    EXPECT_EQ(editor->renderControl()->effectView()->internalEffectIndex(), 5);
    ScriptedDialogs& dialogs = main.dialogs;
    QTemporaryDir folder;
    dialogs.fileToOpen = folder.filePath("words.srt");
    editor->openPanelForChooseSRTFile();
    EXPECT_FALSE(editor->languagePanelTimer()->isActive()) << "a file's subtitle asks nothing";
    editor->setSubtitleMode(1);
    editor->watermark()->setSelectionArea({ 0, 0, 100, 100 });
    for (auto* button : editor->findChildren<QPushButton*>())
        if (button->text() == "Rotate" || button->text() == "Mirror")
            button->click();

    editor->onApplytoAll();
    expectNear(edited->watermarkRect(), box);
    for (const auto& node : { edited, other }) {
        EXPECT_EQ(node->indexOfEffect(), 5u);
        EXPECT_EQ(node->rotationAngle(), 90u);
        EXPECT_TRUE(node->isMirror());
        EXPECT_EQ(node->editSetting().subtitleIndex(), 1) << "the external file, after the track";
    }
    editor->onEditorDone();
    expectNear(edited->watermarkRect(), { 0, 0, 160, 160 });
}

TEST(DNVideoEditorController, SubtitleLanguagesAndPositions)
{
    DNVideoEditorController editor;
    auto node = clipNode(640, 360);
    editor.setMediaNode(node);
    const struct {
        QString userLanguage;
        QString english;
        QString german;
    } names[] = { { "en", "English", "German" }, { "fr", "anglais", "allemand" } };
    auto& defaults = UserDefaults::standard();
    const QVariant previous = defaults.value("AppleLanguages");
    for (const auto& c : names) {
        defaults.setValue("AppleLanguages", QStringList { c.userLanguage });
        const auto languages = DNVideoEditorController::extSubtitleLanguageDics();
        QStringList codes;
        for (const auto& language : languages)
            codes << language.languageCode;
        EXPECT_EQ(codes, QStringList({ "zh-Hans", "en", "fr", "de", "it", "pt", "es" }));
        EXPECT_EQ(languages.at(1).languageName, c.english);
        EXPECT_EQ(languages.at(3).languageName, c.german);
        EXPECT_EQ(editor.curLanguageDic().languageCode, "en") << "a node without a language";
    }
    previous.isValid() ? defaults.setValue("AppleLanguages", previous)
                       : defaults.remove("AppleLanguages");

    const struct {
        quint32 stored;
        QString shown;
        QString chosen;
        quint32 storedAfter;
    } positions[] = {
        { 90, "Bottom", "Bottom", 100 }, { 100, "Bottom", "Top", 67 }, { 67, "Top", "Center", 78 },
        { 78, "Center", "Sideways", 78 }, // no such name: nothing changes
    };
    for (const auto& c : positions) {
        node->setSubtitlePos(c.stored);
        EXPECT_EQ(editor.subtitlePosition(), c.shown) << c.stored;
        editor.setSubtitlePosition(c.chosen);
        EXPECT_EQ(node->subtitlePos(), c.storedAfter) << c.chosen.toStdString();
    }
}

TEST(DNVideoEditorController, ADVDTitleHasNoWatermarkAndAsksItsSubtitlesLanguage)
{
    ASSERT_EQ(TestDisc::ensure(), QString());
    auto disc
        = DNDVDNode::dvdNodeWithSourceInfo(NXDVDSourceInfo::sourceInfoWithPath(TestDisc::folder()));
    ASSERT_TRUE(disc);
    ScriptedDialogs dialogs;
    DNVideoEditorController editor(nullptr, &dialogs);
    open(editor, disc);
    EXPECT_EQ(editor.indexOfTabViewItemWithIdentifier(EditorTab::kWatermark), -1);
    EXPECT_EQ(editor.indexOfTabViewItemWithIdentifier(EditorTab::kEffect), -1);
    QTemporaryDir folder;
    dialogs.fileToOpen = folder.filePath("words.srt");
    editor.openPanelForChooseSRTFile();
    EXPECT_EQ(disc->extraSubtitlePath(), dialogs.fileToOpen);
    EXPECT_TRUE(editor.languagePanelTimer()->isActive());
    EXPECT_FALSE(editor.languageChoosePanel()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor.languageChoosePanel()->isVisible(); }, 2000));
    auto* languages = editor.languageChoosePanel()->findChild<QComboBox*>();
    languages->setCurrentIndex(languages->findData("fr"));
    editor.doneForceLanguageChoose();
    EXPECT_EQ(disc->extraSubtitleLanguage(), "fr");
    EXPECT_FALSE(editor.languageChoosePanel()->isVisible());
    editor.renderControl()->effectView()->rotateLeft90();
    editor.onApplytoAll(); // the disc's other title takes the turn
    for (const auto& title : disc->titles())
        EXPECT_EQ(title->setting().rotationAngle(), disc->editSetting().rotationAngle());
    editor.reject();

    open(editor, clipNode(640, 360));
    const int count = editor.editorTabView()->count();
    EXPECT_EQ(editor.indexOfTabViewItemWithIdentifier(EditorTab::kWatermark), count - 1);
    EXPECT_EQ(editor.indexOfTabViewItemWithIdentifier(EditorTab::kEffect), -1);
    editor.reject();
}
