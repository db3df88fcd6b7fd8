#pragma once

#include <QByteArray>
#include <QStringList>

// Cuts the player's standard output into lines, whatever the size of the
// pieces it arrives in: a line cut by a read is held back until its end
// arrives. Bytes that are not UTF-8 (mplayer prints file names as they lie on
// disk) become replacement characters and never cost the rest of the line or
// its neighbours.
class NXMPlayerOutputReader {
public:
    // The lines that the piece completes, without their line ends.
    QStringList read(const QByteArray& piece);
    // What is held back, handed out as a last line (at the player's end).
    QStringList finish();

private:
    QByteArray m_pending;
};
