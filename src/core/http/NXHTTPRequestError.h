#pragma once

#include "http/HttpError.h"

#include <QString>

// The failures of a request, in the domain "NXHTTPRequestErrorDomain".
enum class NXHTTPRequestErrorType {
    ConnectionFailure = 1,
    RequestTimedOut = 2,
    Authentication = 3,
    RequestCancelled = 4,
    UnableToCreateRequest = 5,
    InternalErrorWhileBuildingRequest = 6,
    InternalErrorWhileApplyingCredentials = 7,
    FileManagement = 8,
    TooMuchRedirection = 9,
    Unhandled = 10,
    Compression = 11,
    RedirectNotFollowed = 12,
    BodyTooLarge = 13,
};

extern const QString NXHTTPRequestErrorDomain;

HttpError requestError(NXHTTPRequestErrorType type, const QString& description,
    std::shared_ptr<const HttpError> underlying = {});

// Why writing the file at `path` failed with the system's `error`, in words
// a person can act on: "the disk is full", "the folder is read-only", or the
// system's own.
QString fileWriteCause(const QString& path, int error);
// Code 8, "Failed to write to file at path '<path>': <cause>", with the
// system's error beneath.
HttpError fileWriteError(const QString& path, int error);
