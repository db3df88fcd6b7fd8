#pragma once

#include <QSizeF>
#include <QString>

#include <variant>

// The streams of one DVD title as the title reader found them, and the
// subtitle files the user attached to it. Plain values, like the file tracks.

// The title's picture: the coded size from the disc's video standard and the
// display aspect (4 by 3, or 16 by 9 for a wide picture).
struct DNDVDTVideo {
    QSizeF videoResolution;
    QSizeF videoAspect;
};

// One audio stream of the title.
struct DNDVDTAudio {
    // The stream as the DVD engines select it after "-aid": AC-3 stream n is
    // 128 + n, DTS 136 + n, LPCM 160 + n, MPEG audio n. The position in the
    // list would make them play nothing: they find no stream 0 on a disc.
    qint32 index = -1;
    qint32 position = -1; // in the title's audio list, from 0
    qint32 audioID = -1; // the stream number on the disc (0 to 7)
    qint32 channel = 0;
    QString audioLang; // the language's name, "??" when the code is unknown; empty when none
    QString languageCode; // the disc's two-letter code, empty when none
};

// One subpicture stream of the title.
struct DNDVDTSubtitle {
    // The stream number from 0 that the engines' "-sid" takes; a slot whose
    // stream is absent is skipped, so it may differ from the list position.
    qint32 index = -1;
    QString subtitleName; // the language's name, "??" when the code is unknown or missing
    QString languageCode;
};

// A text subtitle file attached to a title.
struct DNDVDTExtSubtitle : DNDVDTSubtitle {
    static inline const QString kDefaultLanguage = QStringLiteral("en");

    QString path;
    QString codePage; // the file's character set, handed to the engine as it is
    QString language; // the language key the subtitle font is chosen by

    static DNDVDTExtSubtitle extSubtitleTrack(const QString& path);
};

// The disc's subpicture streams followed by attached files; the alternative
// held is the exact kind of the track.
using DNDVDSubtitleTrack = std::variant<DNDVDTSubtitle, DNDVDTExtSubtitle>;

const DNDVDTSubtitle& DNDVDSubtitleFields(const DNDVDSubtitleTrack& track);
// The attached file's record, or null for a stream of the disc.
const DNDVDTExtSubtitle* DNDVDExtSubtitleOf(const DNDVDSubtitleTrack& track);
DNDVDTExtSubtitle* DNDVDExtSubtitleOf(DNDVDSubtitleTrack& track);

// The name a track shows for a two-letter language code: "English" for "en",
// "??" for a code nobody knows, empty for no code.
QString DNDVDLanguageName(const QString& code);
