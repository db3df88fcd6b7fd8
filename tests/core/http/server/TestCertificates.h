#pragma once

#include "TestHttpServer.h"

#include <optional>

// A self-signed certificate and its key for `commonName`, valid for
// 127.0.0.1 and localhost, made with the openssl program at test time. Empty
// when openssl is missing or fails.
std::optional<TestTlsIdentity> makeSelfSignedIdentity(const QString& commonName);
