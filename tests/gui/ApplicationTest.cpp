// Start and quit of the whole application, the preferences across a restart,
// and the list rules (merge mode, the DVD conflict question).
#include "GuiTestSupport.h"

#include "controls/NXSlider.h"
#include "fixtures/TestMedia.h"
#include "list/NXMediaListModel.h"
#include "model/DNFileGroupNode.h"
#include "platform/UserDefaults.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"
#include "shell/NXApplicationDelegate.h"
#include "shell/NXPreferencesController.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Launch {
    ScriptedDialogs dialogs;
    RecordingSystem recorder;
    NXSystemActions system = recorder.actions();
    std::optional<NXApplicationDelegate> delegate;

    Launch()
    {
        delegate.emplace(dialogs, system);
        delegate->applicationDidFinishLaunching({});
    }
    NXAppController& window() { return *delegate->controller(); }
};

TEST(ApplicationTest, AbnormalEndFlagIsSetWhileRunningAndClearedByACleanQuit)
{
    auto& defaults = UserDefaults::standard();
    const QString key = NXApplicationDelegate::kSafeTerminateKey;
    struct Case {
        const char* name;
        std::optional<bool> flagBefore; // nullopt: never stored
        bool reportedAbnormal;
    };
    const Case cases[] = {
        { "first run ever", std::nullopt, false },
        { "after a clean quit", false, false },
        { "after a crash", true, true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.flagBefore)
            defaults.setValue(key, *c.flagBefore);
        else
            defaults.remove(key);
        Launch run;
        EXPECT_EQ(run.delegate->previousRunEndedAbnormally(), c.reportedAbnormal);
        EXPECT_TRUE(defaults.boolValue(key)) << "set while running";
        const bool asked = waitUntil([&] { return !run.dialogs.alerts.empty(); }, 1500);
        EXPECT_EQ(asked, c.reportedAbnormal);
        run.delegate->applicationWillTerminate();
        EXPECT_FALSE(defaults.boolValue(key, true)) << "cleared at quit";
    }
}

TEST(ApplicationTest, PreferencesSurviveARestart)
{
    const QString folder = QDir::tempPath() + "/chosen output";
    {
        Launch run;
        NXPreferencesController preferences(DNSetting::shareSetting(), run.dialogs, &run.window());
        run.dialogs.folder = folder;
        preferences.findChildren<QPushButton*>().first()->click(); // "Choose..."
        EXPECT_EQ(preferences.outputFolderEdit()->text(), folder);
        preferences.safeModeBox()->setChecked(true);
        preferences.highQualityBox()->setChecked(true);
        preferences.deinterlacingBox()->setChecked(true);
        preferences.coresBox()->setValue(1);
        preferences.accept();
        run.delegate->applicationWillTerminate();
    }
    // A new process starts from the defaults.
    DNSetting::shareSetting().resetToDefaults();
    Launch again;
    const auto& engine = DNSetting::shareSetting().mainWindowSetting();
    EXPECT_EQ(DNSetting::shareSetting().appSetting().videoOutputDirectory(), folder);
    EXPECT_TRUE(engine.safemode());
    EXPECT_TRUE(engine.highQuality());
    EXPECT_TRUE(engine.deinterlacing());
    EXPECT_EQ(engine.cpuCore(), 1);
}

TEST(ApplicationTest, MergeModeIsResetAtLaunchAndGathersNewFilesInOneGroup)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    ASSERT_FALSE(source.isEmpty());
    UserDefaults::standard().setValue(NXAppController::kMergeModeKey, true);
    Launch run;
    EXPECT_FALSE(run.window().mergeMode());

    run.window().addOpenedFiles({ source });
    run.window().setMergeMode(true);
    run.window().addOpenedFiles({ source, source });

    const auto& list = run.window().mediaNodes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->mediaType(), NXMediaType::VideoFile);
    ASSERT_TRUE(isMemberOf<DNFileGroupNode>(list[1]));
    ASSERT_EQ(list[1]->children().size(), 2u);
    for (const auto& member : list[1]->children())
        EXPECT_EQ(member->mediaType(), NXMediaType::MergeMember);
    const QModelIndex group = run.window().listModel()->index(1, 0);
    EXPECT_EQ(run.window().listModel()->rowCount(group), 2);

    // Removing the group's last member removes the group.
    for (const auto& member : std::vector(list[1]->children()))
        run.window().listModel()->removeNode(member);
    EXPECT_EQ(run.window().mediaNodes().size(), 1u);
}

TEST(ApplicationTest, AddingTheOtherKindOfSourceAsksBeforeClearingTheList)
{
    const QString source = TestMedia::path(TestMedia::kVideoWithAudio);
    ASSERT_FALSE(source.isEmpty());
    const auto dvdLike = [&] {
        auto node = DNFileNode::fileNodeWithFile(source);
        node->setMediaType(NXMediaType::DVD);
        return node;
    };
    struct Case {
        const char* name;
        NXAlertAnswer answer;
        bool questionStored; // "_NotPressentDiffType_" before the add
        bool asked;
        NXMediaType firstAfter;
        std::size_t countAfter;
    };
    const Case cases[] = {
        { "cancel keeps the list", { 1, false }, false, true, NXMediaType::VideoFile, 2 },
        { "continue clears it", { 0, false }, false, true, NXMediaType::DVD, 1 },
        { "suppressed: cleared without asking", { 1, false }, true, false, NXMediaType::DVD, 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UserDefaults::standard().setValue(
            NXAppController::kNoConflictQuestionKey, c.questionStored);
        Launch run;
        run.window().addOpenedFiles({ source, source });
        run.dialogs.alerts.clear();
        run.dialogs.nextAnswer = c.answer;
        run.window().addMediaNode(dvdLike());
        EXPECT_EQ(run.dialogs.alertTitles().contains("Conflict between two media!"), c.asked);
        ASSERT_EQ(run.window().mediaNodes().size(), c.countAfter);
        EXPECT_EQ(run.window().mediaNodes().front()->mediaType(), c.firstAfter);
    }
    UserDefaults::standard().remove(NXAppController::kNoConflictQuestionKey);
}

TEST(ListTest, OutputColumnShowsTheNameTheBuilderWrites)
{
    std::shared_ptr<DNProfile> matroska;
    for (const auto& category :
        DNProfileManager::profileManager().categoriesOfType(DNProfileTypeVideo))
        for (const auto& profile : category.profiles)
            if (!matroska && profile->fileNameSuffix() == QLatin1String("mkv"))
                matroska = profile->copy();
    ASSERT_TRUE(matroska) << "no Matroska profile in the catalogue";
    const auto node = std::make_shared<DNFileNode>(QStringLiteral("/films/clip.avi"));
    node->setProfile(matroska);
    const struct {
        const char* requested;
        const char* shown;
    } cases[] = { { "clip.avi", "clip.mkv" }, { "it's.avi", "it_s.mkv" },
        { "Clip.MKV", "Clip.MKV" }, { "a/b.mov", "a_b.mkv" } };
    for (const auto& c : cases) {
        DNNodeInfo info;
        info.outputName = QString::fromUtf8(c.requested);
        node->setNodeInfo(info);
        EXPECT_EQ(NXMediaOutputName(*node).toStdString(), c.shown) << c.requested;
    }
}

TEST(ControlsTest, SliderTakesItsValueFromThePointerAndActsOnRelease)
{
    NXSlider slider;
    slider.resize(200, 16);
    int actions = 0;
    QObject::connect(&slider, &NXSlider::actionTriggered, [&] { ++actions; });
    struct Case {
        int x;
        double value;
    };
    for (const Case c :
        { Case { 50, 25 }, Case { 200, 100 }, Case { 400, 100 }, Case { -10, 0 } }) {
        QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(c.x, 8));
        EXPECT_DOUBLE_EQ(slider.doubleValue(), c.value) << "x = " << c.x;
    }
    EXPECT_EQ(actions, 4);

    actions = 0;
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(0, 8));
    for (int x = 1; x <= 25; ++x) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 8), slider.mapToGlobal(QPointF(x, 8)),
            Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&slider, &move);
    }
    EXPECT_EQ(actions, 2) << "one action per ten drag events";
    slider.setDoubleValue(80);
    EXPECT_DOUBLE_EQ(slider.doubleValue(), 80);

    slider.setMinValue(20);
    slider.setMaxValue(120);
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(50, 8));
    EXPECT_DOUBLE_EQ(slider.doubleValue(), 45) << "a range is measured from its minimum";
}

} // namespace
