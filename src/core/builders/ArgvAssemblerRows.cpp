// The rows of the two builder tables. They live with the builders, so that
// the engine layer only declares the tables and never includes a builder.
#include "engine/ArgvAssemblerTables.h"

#include "builders/audio/AudioBuilders.h"
#include "builders/dvd/DVDEntryPoints.h" // generated from builders/dvd/DVDArgvAssemblerRows.txt
#include "builders/video/Matroska.h"
// DVD, DV and ProRes outputs.
#include "builders/video/DV.h"
#include "builders/video/ProRes.h"
#include "builders/video/VOB.h"

// Phone, Flash, web and Windows/Real outputs.
#include "builders/video/ASF.h"
#include "builders/video/FLV.h"
#include "builders/video/RealMedia.h"
#include "builders/video/SWF.h"
#include "builders/video/ThreeGP.h"
#include "builders/video/WebM.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace {

// The rows in lookup order. The DVD rows are made from their row list; each
// media file builder family adds its rows, with the header that declares its
// builders, as
//     { "Video_To_MKV_With_AVEncoder", &Video_To_MKV_With_AVEncoder },
constexpr std::initializer_list<ArgvAssemblerEntry> kDVDRows = {
#include "builders/dvd/DVDTableRows.inc"
};

constexpr std::initializer_list<ArgvAssemblerEntry> kVideoRows = {
    // Phone, Flash, web and Windows/Real outputs.
    { "Video_To_3GP_With_AVEncoder", &Video_To_3GP_With_AVEncoder },
    { "Video_To_3G2_With_AVEncoder", &Video_To_3G2_With_AVEncoder },
    { "Video_To_FLV_With_AVEncoder", &Video_To_FLV_With_AVEncoder },
    { "Video_To_F4V_With_AVEncoder", &Video_To_F4V_With_AVEncoder },
    { "Video_To_WEBM_With_AVEncoder", &Video_To_WEBM_With_AVEncoder },
    { "Video_To_SWF_With_AVEncoder", &Video_To_SWF_With_AVEncoder },
    { "Video_To_ASF_With_AVEncoder", &Video_To_ASF_With_AVEncoder },
    { "Video_To_RM_With_AVEncoder", &Video_To_RM_With_AVEncoder },
    // Matroska.
    { "Video_To_MKV_With_AVEncoder", &Video_To_MKV_With_AVEncoder },
    { "Video_To_HD_MKV_With_AVEncoder", &Video_To_HD_MKV_With_AVEncoder },
    // DVD, DV and ProRes outputs.
    { "Video_To_DV_With_AVEncoder", &Video_To_DV_With_AVEncoder },
    { "Video_To_VOB_With_AVEncoder", &Video_To_VOB_With_AVEncoder },
    { "Video_To_NTSCDVD_With_AVEncoder", &Video_To_NTSCDVD_With_AVEncoder },
    { "Video_To_PALDVD_With_AVEncoder", &Video_To_PALDVD_With_AVEncoder },
    { "Video_To_ProRes4444_With_AVEncoder", &Video_To_ProRes4444_With_AVEncoder },
    { "Video_To_ProRes422HQ_With_AVEncoder", &Video_To_ProRes422HQ_With_AVEncoder },
    { "Video_To_ProRes422_With_AVEncoder", &Video_To_ProRes422_With_AVEncoder },
    { "Video_To_ProRes422LT_With_AVEncoder", &Video_To_ProRes422LT_With_AVEncoder },
    { "Video_To_ProRes422Poxy_With_AVEncoder", &Video_To_ProRes422Poxy_With_AVEncoder },
    // Audio outputs.
    { "Video_To_AAC_With_AVEncoder", &Video_To_AAC_With_AVEncoder },
    { "Video_To_AC3_With_AVEncoder", &Video_To_AC3_With_AVEncoder },
    { "Video_To_AIFF_With_AVEncoder", &Video_To_AIFF_With_AVEncoder },
    { "Video_To_ALAC_With_AVEncoder", &Video_To_ALAC_With_AVEncoder },
    { "Video_To_AU_With_AVEncoder", &Video_To_AU_With_AVEncoder },
    { "Video_To_CAF_With_AVEncoder", &Video_To_CAF_With_AVEncoder },
    { "Video_To_DTS_With_AVEncoder", &Video_To_DTS_With_AVEncoder },
    { "Video_To_FLAC_With_AVEncoder", &Video_To_FLAC_With_AVEncoder },
    { "Video_To_M4R_With_AVEncoder", &Video_To_M4R_With_AVEncoder },
    { "Video_To_MP3_With_AVEncoder", &Video_To_MP3_With_AVEncoder },
    { "Video_To_OGG_With_AVEncoder", &Video_To_OGG_With_AVEncoder },
    { "Video_To_RA_With_AVEncoder", &Video_To_RA_With_AVEncoder },
    { "Video_To_WAV_With_AVEncoder", &Video_To_WAV_With_AVEncoder },
    { "Video_To_WMA_With_AVEncoder", &Video_To_WMA_With_AVEncoder },
};

// The DVD rows whose builders refuse merged titles (DVDBuild::openSingleTitle).
constexpr std::initializer_list<const char*> kSingleTitleDVDRows = {
    "DVD_To_DVDFullBackup_MPEG_With_MEncoder",
    "DVD_Backup_To_ISO",
    "DVD_Backup_To_MKV",
    "DVD_To_Music_MP3_With_MEncoder",
    "DVD_To_Music_AAC_With_MEncoder",
    "DVD_To_Music_AC3_With_MEncoder",
    "DVD_To_MP4_H264_With_HandBrake",
};

std::span<const ArgvAssemblerEntry> rowsOf(std::initializer_list<ArgvAssemblerEntry> rows)
{
    return { rows.begin(), rows.size() };
}

} // namespace

std::span<const ArgvAssemblerEntry> DVDArgvAssemblerTable()
{
    return rowsOf(kDVDRows);
}

std::span<const ArgvAssemblerEntry> VideoArgvAssemblerTable()
{
    return rowsOf(kVideoRows);
}

bool DVDArgvAssemblerMergesTitles(const char* name)
{
    return name != nullptr
        && std::none_of(kSingleTitleDVDRows.begin(), kSingleTitleDVDRows.end(),
            [name](const char* row) { return std::strcmp(row, name) == 0; });
}
