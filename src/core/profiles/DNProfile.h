#pragma once

#include "profiles/NXProfileParser.h"

#include <QVariantMap>

#include <memory>

// The output profile a node converts with.
class DNProfile : public NXProfileParser {
public:
    // The profile of a file of the given kind (DNProfileTypeVideo or
    // DNProfileTypeDVD); null, with the reason in `error`, when the file is
    // missing, is not a property list or lacks a key.
    static std::shared_ptr<DNProfile> profileWithFile(
        const QString& path, int profileType, QString& error);

    std::shared_ptr<DNProfile> copy() const { return std::make_shared<DNProfile>(*this); }

    // Whether the output has a picture: an audio-only profile has none of the
    // video parameters.
    bool writesPicture() const;

    // The user's choices, keyed as in the profile file, to be stored and laid
    // over the same profile in a later run.
    QVariantMap choices() const;
    // Takes back stored choices. A value that the profile no longer offers is
    // skipped, so a changed profile file never yields a value it cannot use.
    void applyChoices(const QVariantMap& choices);
};
