#pragma once

#include <QSizeF>
#include <QString>

// Small readings of profile values shared by the builders. A null QString is
// an absent value.

// "keep origin" stands for the source's own frame rate, aspect or size.
// Letter case counts; an absent value is not "keep origin".
bool isKeepOriginFrameRate(const QString& value);
bool isKeepOriginAspect(const QString& value);
bool isKeepOriginResolution(const QString& value);
// Yes for an absent value and for "keep origin" in any letter case.
bool isKeepOriginIgnoringCase(const QString& value);

// Every "x" becomes the separator, and "N<separator>1" becomes "N":
// with ":", 16x9 gives 16:9, 4:3 stays 4:3 and 2.35:1 gives 2.35.
QString normalizeAspectString(const QString& value, const QString& separator);

// The value, or the source's rate written with two decimals when the value
// is "keep origin".
QString frameRateOrSourceValue(const QString& value, float sourceRate);

// The exact rational form an engine wants for a frame rate: 29.970 gives
// "30000/1001". Trailing zeros of a decimal are ignored; a rate not in the
// table gives the film rate "24000/1001".
const char* frameRateToRational(const char* rate);
// The rate of that table nearest to `fps`, as a profile writes it ("29.97").
QString nearestTableFrameRate(double fps);

// A size written as "<width>x<height>" (any letter case); the default for
// "keep origin" and for anything that is not two parts around an "x".
QSizeF resolutionFromString(const QString& value, double defaultWidth, double defaultHeight);
// Like resolutionFromString, but anything that is neither "keep origin" nor
// two parts around an "x" gives 1 by 1.
QSizeF resolutionFromStringOrOne(const QString& value, const QSizeF& defaultSize);

// The leading integer of a text, as the profile values are read: blanks
// skipped, an optional sign, digits up to the first other character; 0 when
// there are none, clamped to the int range.
int leadingIntValue(const QString& text);
