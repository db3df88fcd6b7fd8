#include "MPlayerArguments.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>

namespace {

// yuv4mpeg refuses a picture of odd width ("Image width must be divisible by
// 2"), and the link packs two pixels at a time: a picture is padded to even
// sides, with a black column at its right or row at its bottom, after the
// caller's own filters have sized and turned it. The padding copies every
// picture, so it is left out when the caller says its pictures' sides are
// even ("-evensides").
constexpr std::string_view kEvenSidesFilter = "expand=0:0:0:0:0:0:2";

// The name between double quotes after "buffer_name=", or after it up to the
// next ':' when it is not quoted.
std::optional<std::string> bufferNameOf(std::string_view output)
{
    constexpr std::string_view key = "buffer_name=";
    const std::size_t at = output.find(key);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string_view name = output.substr(at + key.size());
    if (name.size() >= 2 && name.front() == '"') {
        const std::size_t closing = name.find('"', 1);
        return std::string(
            name.substr(1, closing == std::string_view::npos ? name.npos : closing - 1));
    }
    return std::string(name.substr(0, name.find(':')));
}

bool isFrameLinkOutput(std::string_view output)
{
    return output.substr(0, output.find(':')) == "corevideo";
}

// Seconds written in the C locale, as our program writes them.
std::optional<double> secondsOf(const std::string& word)
{
    double seconds = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), seconds);
    if (error != std::errc() || end != word.data() + word.size() || !std::isfinite(seconds))
        return std::nullopt;
    return seconds;
}

} // namespace

MPlayerArguments rewriteArguments(
    const std::vector<std::string>& toolWords, const std::string& audioOutputs)
{
    MPlayerArguments result;
    // mplayer reads these before the rest of its command line.
    std::vector<std::string>& words = result.words;
    words = { "-noconfig", "all", "-nolirc", "-nojoystick" };
    std::optional<std::size_t> filterChainAt;
    std::optional<double> landing;
    bool linked = false;
    bool evenSides = false;
    for (std::size_t index = 0; index < toolWords.size(); ++index) {
        const std::string& word = toolWords[index];
        const bool hasValue = index + 1 < toolWords.size();
        if (word == "-vf" && hasValue) {
            const std::string& filters = toolWords[++index];
            if (filterChainAt) {
                words[*filterChainAt] += "," + filters;
                continue;
            }
            words.push_back(word);
            filterChainAt = words.size();
            words.push_back(filters);
        } else if ((word == "-showfrom" || word == "-showto") && hasValue) {
            (word == "-showfrom" ? result.showFrom : result.showTo) = secondsOf(toolWords[++index]);
        } else if (word == "-landing" && hasValue) {
            landing = secondsOf(toolWords[++index]);
        } else if (word == "-evensides") {
            evenSides = true;
        } else if (word == "-ao" && hasValue && toolWords[index + 1] == "coreaudio") {
            words.insert(words.end(), { word, audioOutputs });
            ++index;
        } else if (word == "-vo" && hasValue && isFrameLinkOutput(toolWords[index + 1])) {
            linked = true;
            result.bufferName = bufferNameOf(toolWords[++index]);
            words.insert(words.end(),
                { word, "yuv4mpeg:file=/dev/fd/" + std::to_string(kPictureDescriptor) });
        } else {
            if (word == "-ss" && hasValue)
                result.startAt = secondsOf(toolWords[index + 1]).value_or(0);
            words.push_back(word);
        }
    }
    if (landing)
        result.startAt = *landing;
    if (linked && !evenSides) {
        if (filterChainAt)
            words[*filterChainAt] += "," + std::string(kEvenSidesFilter);
        else
            words.insert(words.end(), { "-vf", std::string(kEvenSidesFilter) });
    }
    // A subtitle file of the movie's name is drawn only when it is given:
    // mplayer would load it by itself, in a character set of its guessing.
    words.push_back("-noautosub");
    return result;
}
