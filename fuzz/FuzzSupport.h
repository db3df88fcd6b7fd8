#pragma once

#include "http/HttpHeaders.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares. Each target defines LLVMFuzzerTestOneInput;
// the support's LLVMFuzzerInitialize runs first in every process.
namespace Fuzz {

// The input as a QByteArray over libFuzzer's own buffer: no copy and no
// terminating zero, so that a read past its end is caught.
QByteArray bytesOf(const uint8_t* data, size_t size);

// The header fields of a response whose head is "HTTP/1.1 200 OK" and then
// `fieldLines`, read by the response parser as any server's answer is; none
// when the parser refuses the head.
HttpHeaders responseHeaders(const QByteArray& fieldLines);

// A folder of this process's own, removed at exit. HOME, XDG_* and TMPDIR
// point into it, so the log, settings and temporary files of the code under
// test never reach the real user's.
QString privateFolder();

// Stops the run with `what` when a property that must hold for every input
// does not: libFuzzer keeps the input as a crash like any other.
void require(bool condition, const char* what);

} // namespace Fuzz
