#include "profiles/ProfileValues.h"

#include <QStringList>

#include <climits>
#include <cmath>
#include <string>

namespace {

const QString kKeepOrigin = QStringLiteral("keep origin");

struct FrameRateRow {
    const char* rate;
    const char* rational;
};

constexpr FrameRateRow kFrameRates[] = {
    { "12", "12" },
    { "15", "15" },
    { "23.97", "24000/1001" },
    { "23.976", "24000/1001" },
    { "24", "24" },
    { "25", "25" },
    { "29.97", "30000/1001" },
    { "29.976", "30000/1001" },
    { "30", "30" },
    { "59.97", "60000/1001" },
    { "59.976", "60000/1001" },
};

constexpr const char* kFilmRate = "24000/1001";

// "29.970" and "30.0" name the same rates as "29.97" and "30".
std::string withoutTrailingZeros(std::string rate)
{
    if (rate.find('.') == std::string::npos)
        return rate;
    while (!rate.empty() && rate.back() == '0')
        rate.pop_back();
    if (!rate.empty() && rate.back() == '.')
        rate.pop_back();
    return rate;
}

// Two parts around an "x", or nothing.
bool splitSize(const QString& lowered, QSizeF& size)
{
    const QStringList parts = lowered.split(QLatin1Char('x'));
    if (parts.size() != 2)
        return false;
    size = QSizeF(leadingIntValue(parts[0]), leadingIntValue(parts[1]));
    return true;
}

} // namespace

bool isKeepOriginFrameRate(const QString& value)
{
    return value == kKeepOrigin;
}

bool isKeepOriginAspect(const QString& value)
{
    return value == kKeepOrigin;
}

bool isKeepOriginResolution(const QString& value)
{
    return value == kKeepOrigin;
}

bool isKeepOriginIgnoringCase(const QString& value)
{
    return value.isNull() || value.toLower() == kKeepOrigin;
}

QString normalizeAspectString(const QString& value, const QString& separator)
{
    if (value.isNull())
        return value;
    QString replaced = value;
    replaced.replace(QLatin1Char('x'), separator);
    if (separator.isEmpty())
        return replaced;
    const QStringList parts = replaced.split(separator);
    if (parts.size() == 2 && leadingIntValue(parts[1]) == 1)
        return parts[0];
    return replaced;
}

QString frameRateOrSourceValue(const QString& value, float sourceRate)
{
    if (value != kKeepOrigin)
        return value;
    return QString::number(double(sourceRate), 'f', 2);
}

const char* frameRateToRational(const char* rate)
{
    if (!rate)
        return kFilmRate;
    const std::string normalized = withoutTrailingZeros(rate);
    for (const FrameRateRow& row : kFrameRates) {
        if (normalized == row.rate)
            return row.rational;
    }
    return kFilmRate;
}

QString nearestTableFrameRate(double fps)
{
    const auto value = [](const FrameRateRow& row) {
        const QStringList parts = QString::fromLatin1(row.rational).split(QLatin1Char('/'));
        return parts.value(0).toDouble() / (parts.size() == 2 ? parts[1].toDouble() : 1.0);
    };
    const FrameRateRow* nearest = &kFrameRates[0];
    for (const FrameRateRow& row : kFrameRates) {
        if (std::abs(value(row) - fps) < std::abs(value(*nearest) - fps))
            nearest = &row;
    }
    return QString::fromLatin1(nearest->rate);
}

QSizeF resolutionFromString(const QString& value, double defaultWidth, double defaultHeight)
{
    const QSizeF fallback(defaultWidth, defaultHeight);
    const QString lowered = value.toLower();
    QSizeF size;
    if (value.isNull() || lowered == kKeepOrigin || !splitSize(lowered, size))
        return fallback;
    return size;
}

QSizeF resolutionFromStringOrOne(const QString& value, const QSizeF& defaultSize)
{
    const QString lowered = value.toLower();
    if (!value.isNull() && lowered == kKeepOrigin)
        return defaultSize;
    QSizeF size;
    if (value.isNull() || !splitSize(lowered, size))
        return QSizeF(1, 1);
    return size;
}

int leadingIntValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        negative = text[i++] == QLatin1Char('-');
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        magnitude = magnitude * 10 + (text[i].unicode() - '0');
        if (magnitude > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return int(negative ? -magnitude : magnitude);
}
