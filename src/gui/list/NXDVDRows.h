#pragma once

#include <QString>
#include <QStringList>

class DNDVDNode;
class DNDVDTitle;
class DNProfile;

// What the conversion list shows and lets the user choose on a DVD entry
// and its title rows.

// Whether the profile's builders can join titles: the sound-only ones, the
// stream dump, the disc image and the HandBrake-style ones take one title at
// a time, so a merge must never reach them.
bool NXProfileCanMergeTitles(const DNProfile& profile);
// "Merge into one" is offered with two or more selected titles and a
// profile that can join them.
bool NXDVDMergeOffered(const DNDVDNode& node);
// Turns the merge off where it is no longer offered (a title unselected, a
// profile that cannot join); true when it was on.
bool NXDVDSettleMerge(DNDVDNode& node);
// The merge as the conversion will do it: asked for and offered.
bool NXDVDMergesTitles(const DNDVDNode& node);

// "Title 2 (16:9)".
QString NXDVDTitleName(const DNDVDTitle& title);
// The sum of the selected titles' lengths, in seconds.
qint32 NXDVDSelectedLength(const DNDVDNode& node);
// The name the title's output gets before a number keeps it unique, with
// its "_T<n>" mark; empty while the titles are merged.
QString NXDVDTitleOutputName(const DNDVDTitle& title);
// The merged output's name; empty unless the titles are merged.
QString NXDVDMergedOutputName(const DNDVDNode& node);

// The title's sound tracks by language, and the chosen one's position.
QStringList NXDVDAudioChoices(const DNDVDTitle& title);
int NXDVDAudioChoice(const DNDVDTitle& title);
void NXDVDChooseAudio(DNDVDTitle& title, int choice);
// "No Subtitle" first, then the title's subtitle tracks by language.
QStringList NXDVDSubtitleChoices(const DNDVDTitle& title);
int NXDVDSubtitleChoice(const DNDVDTitle& title);
void NXDVDChooseSubtitle(DNDVDTitle& title, int choice);
