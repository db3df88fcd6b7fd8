#include "core/builders/dvd/DVDBuilderTestSupport.h"

#include "builders/dvd/DVDArgumentHelpers.h"

#include <set>
#include <string>

namespace {

TEST(BuildVideoFilterChain, CropScaleExpandAndRotation)
{
    const struct {
        const char* name;
        const char* resolution;
        const char* aspect;
        QSizeF source;
        QRectF crop; // empty: no crop
        bool expand, deinterlace;
        qint32 rotation;
        bool mirror;
        const char* chain;
    } rows[] = {
        { "keep origin", "keep origin", "keep origin", { 720, 480 }, {}, false, false, 0, false,
            "pp,scale=720:-2,eq2=1:1:0:1,harddup,fixpts" },
        { "keep origin expanded to 16:9", "keep origin", "16x9", { 720, 480 }, {}, true, false, 0,
            false, "pp,scale=720:-2,expand=720:406,eq2=1:1:0:1,harddup,fixpts" },
        { "640x360 at 16:9", "640x360", "16x9", { 720, 480 }, {}, false, false, 0, false,
            "pp,scale=-2:360,eq2=1:1:0:1,harddup,fixpts" },
        { "320x240 at 4:3", "320x240", "4x3", { 720, 480 }, {}, false, true, 0, false,
            "yadif=0,scale=320:-2,eq2=1:1:0:1,harddup,fixpts" },
        { "crop, then the plain fit", "640x480", "4x3", { 720, 480 }, { 0.25, 0.25, 0.5, 0.5 },
            false, false, 0, false,
            "pp,crop=360:240:180:120,scale=640:426,eq2=1:1:0:1,harddup,fixpts" },
        { "no picture size", "640x480", "4x3", { 0, 0 }, {}, false, false, 90, false,
            "pp,rotate=1,eq2=1:1:0:1,harddup,fixpts" },
        { "-90 turns as 270", "keep origin", "keep origin", { 720, 480 }, {}, false, false, -90,
            true, "pp,scale=720:-2,rotate=2,mirror,eq2=1:1:0:1,harddup,fixpts" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto node = dvdNode({ { "VideoResolution", choice(row.resolution) },
            { "VideoAspect", choice(row.aspect) } });
        const auto title = node->titleAt(0);
        title->videoTracks()[0].videoResolution = row.source;
        DNDVDTitleSetting& setting = title->setting();
        setting.setCropEnable(!row.crop.isEmpty());
        setting.setCropRectPercent(row.crop);
        setting.setAutoExpandToProfile(row.expand);
        setting.setRotationAngle(row.rotation);
        setting.setMirror(row.mirror);
        EncodeConfig config;
        config.deinterlace = row.deinterlace;
        EXPECT_EQ(BuildVideoFilterChain(*node, 0, config), row.chain);
    }
}

TEST(BuildRotateMirrorFilter, QuarterTurnsAndMirror)
{
    const struct {
        int turns;
        bool mirror;
        std::optional<QString> fragment;
    } rows[] = {
        { 0, false, std::nullopt },
        { 0, true, "mirror," },
        { 1, false, "rotate=1," },
        { 2, false, "flip,mirror," },
        { 2, true, "flip," },
        { 3, false, "rotate=2," },
        { 3, true, "rotate=2,mirror," },
        { 4, false, std::nullopt },
    };
    for (const auto& row : rows)
        EXPECT_EQ(BuildRotateMirrorFilter(row.turns, row.mirror), row.fragment) << row.turns;
}

TEST(DVDOutputNames, MetadataAndFileNames)
{
    EXPECT_EQ(ReplaceQuotesInMetadata(std::nullopt), " ");
    EXPECT_EQ(ReplaceQuotesInMetadata(QString("A")), " ");
    EXPECT_EQ(ReplaceQuotesInMetadata(QString("\"A\"")), "_A_");
    QTemporaryDir dir;
    const struct {
        std::optional<QString> name;
        const char* suffix;
        const char* file;
    } rows[] = {
        { "Movie.m4v", "mp4", "Movie_T2.m4v" },
        { "Movie.avi", "mp4", "Movie_T2.mp4" },
        { "Movie.avi", "MOV", "Movie_T2.MOV" },
        { "Say \"it's\"", "mp4", "Say \"it's\"_T2.mp4" },
        { "up/out", "mp4", "up_out_T2.mp4" },
        { std::nullopt, "mp4", "Untitled_T2.mp4" },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MakeOutputFileName(dir.path(), row.name, "_T2", row.suffix).toStdString(),
            (dir.path() + "/" + row.file).toStdString());
    }
    ASSERT_TRUE(writeFile(dir.path() + "/Untitled_T2.mp4", {}));
    EXPECT_EQ(MakeOutputFileName(dir.path(), std::nullopt, "_T2", "mp4"),
        dir.path() + "/Untitled_T2 (1).mp4");
}

TEST(DVDArgvAssemblerTable, EveryNameIsFoundExactlyAndLeadsToItsCore)
{
    const auto table = DVDArgvAssemblerTable();
    ASSERT_EQ(table.size(), 300u);
    // One name stands in two rows; the lookup finds the first.
    std::set<std::string> names;
    QStringList repeated;
    for (const ArgvAssemblerEntry& row : table) {
        if (!names.insert(row.name).second)
            repeated << row.name;
        QByteArray name(row.name);
        EXPECT_EQ(findArgvAssembler(name), row.assembler) << name.constData();
        EXPECT_FALSE(findArgvAssembler(name + " ")) << name.constData();
        name.replace(4, 3, name.mid(4, 3) == "to_" ? "To_" : "to_");
        EXPECT_FALSE(findArgvAssembler(name)) << name.constData();
    }
    EXPECT_EQ(repeated, QStringList { "DVD_to_MSXbox_MPEG4_With_Mencoder" });
    // Rows whose numbers the block order fixes: block ends, the Apple pairs, the Xbox twin.
    const std::pair<std::size_t, const char*> positions[] = {
        { 0, "DVD_To_iPhone3GSAndBelow_H264_With_MEncoder" },
        { 1, "DVD_To_iPhone3GSAndBelow_MPEG4_With_MEncoder" },
        { 38, "DVD_To_DVDMainBackup_MPEG_With_MEncoder" },
        { 41, "DVD_Backup_To_MKV" },
        { 42, "DVD_To_Music_MP3_With_MEncoder" },
        { 105, "DVD_To_WP8Mobile_General_WMV_With_MEncoder" },
        { 202, "DVD_To_WP8Pad_General_WMV_With_MEncoder" },
        { 263, "DVD_to_MSXbox_MPEG4_With_Mencoder" },
        { 264, "DVD_to_MSXbox_MPEG4_With_Mencoder" },
        { 299, "DVD_To_MP4_H264_With_HandBrake" },
    };
    for (const auto& [row, name] : positions)
        EXPECT_STREQ(table[row].name, name) << "row " << row;
    EXPECT_EQ(findArgvAssembler(table[264].name), table[263].assembler);
    QTemporaryDir dir;
    EncodeConfig config;
    setConfigPath(config.outputDir, dir.path());
    const struct {
        const char* row;
        const char* suffix;
        const char* format;
        const char* encoder;
    } routes[] = {
        { "DVD_To_MacGen_MOV_H264_With_MEncoder", "MOV", "format=mov", "x264" },
        { "DVD_To_MacGen_M4V_H264_With_MEncoder", "m4v", "format=ipod", "x264" },
        { "DVD_to_BlackBerry_H264_3GP_With_Mencoder", "3gp", "format=ipod", "x264" },
        { "DVD_to_Lenovo_K800_H264_With_MEncoder", "mp4", "format=ipod", "x264" },
        { "DVD_To_SonyPSP_AVC_With_MEncoder", "mp4", "format=psp", "x264" },
        // Named AVI, it is an MPEG-4 row all the same.
        { "DVD_To_Android_GalaxyNote_AVI_With_MEncoder", "mp4", "format=ipod", "lavc" },
    };
    for (const auto& route : routes) {
        const ArgvAssembler entry = findArgvAssembler(route.row);
        ASSERT_TRUE(entry) << route.row;
        const ArgumentBlockPtr block
            = entry(dvdNode({ { "FileNameSuffix", route.suffix } }), 0, config);
        ASSERT_TRUE(block) << route.row;
        EXPECT_TRUE(block->arguments().contains(route.format)) << route.row;
        EXPECT_EQ(block->arguments().value(block->arguments().indexOf("-ovc") + 1), route.encoder)
            << route.row;
        EXPECT_FALSE(entry(nullptr, 0, config)) << route.row;
    }
    // A missing node fails the run with the guard of the entry it reaches.
    const std::pair<const char*, const char*> guards[] = {
        { "DVD_To_iPad2_H264_With_MEncoder",
            "Apple_H264_With_MEncoder: no DVD source (dvdNode != nil)" },
        { "DVD_To_iPad2_MPEG4_With_MEncoder",
            "Apple_MPEG4_With_MEncoder: no DVD source (dvdNode)" },
    };
    for (const auto& [row, log] : guards) {
        EXPECT_FALSE(findArgvAssembler(row)(nullptr, 0, config));
        EXPECT_TRUE(sharedLogText().contains(log)) << log;
    }
}

} // namespace
