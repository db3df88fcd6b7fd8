#pragma once

#include <QString>

#include <array>
#include <optional>
#include <vector>

// A subtitle file's cues as the editor's preview draws them itself, over the
// picture it has edited, where the output will show them: the player would
// draw them into the source's picture, which the preview then crops and
// turns with them.
class PreviewSubtitle {
public:
    // Where a cue stands, as the output puts it.
    enum class Place { Bottom, Middle, Top };
    // The text shown at each place, by its number; lines apart by '\n'.
    using Lines = std::array<QString, 3>;

    struct Cue {
        qint64 start = 0; // milliseconds
        qint64 end = 0;
        QString text; // without styling; lines apart by '\n'
        std::optional<Place> place; // the cue's own "{\anN}", when it has one
    };

    // The cues of an SRT text, or of the events of an SSA/ASS one.
    static PreviewSubtitle fromText(const QString& text, bool ass);
    // The cues of the subtitle file at `path`, read whole in the set its
    // track's code page names for the text said to be in `language` (as
    // subtitleFileCodePage tells it), as the conversion reads it; nothing,
    // with the reason in `failure`, when it cannot be read so.
    static std::optional<PreviewSubtitle> read(
        const QString& path, const QString& language, QString& failure);

    const std::vector<Cue>& cues() const { return m_cues; }
    // The text on screen at `seconds` at each place, of the cues shown then
    // in the order they start: at the cue's own place, or at `every` place
    // when one is given (the editor's top or centre opens every cue of the
    // output).
    Lines textAt(double seconds, std::optional<Place> every = std::nullopt) const;

private:
    std::vector<Cue> m_cues; // by start
    std::vector<qint64> m_lastEnds; // the latest end among the cues up to each
};
