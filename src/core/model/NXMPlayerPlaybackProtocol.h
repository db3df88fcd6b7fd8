#pragma once

#include <QStringList>

#include <optional>

// What a playable node tells the player process: the leading arguments of
// its command line, before the player's own options.
class NXMPlayerPlaybackProtocol {
public:
    virtual ~NXMPlayerPlaybackProtocol() = default;

    virtual QStringList NXMPlayerPlaybackParameters() const = 0;
    // Commands to send to a running player when the node changed; none by
    // default.
    virtual std::optional<QStringList> NXMPlayerPlaybackRequestNewUpdateCommands() const
    {
        return std::nullopt;
    }
};
