// http-get: fetches one URL through the request object into a file.
//
//   http-get URL --output FILE [--resume] [--proxy HOST:PORT] [--timeout S]
//
// FILE must be a new name. With --resume the partial file FILE.part is
// continued when it exists and kept when the transfer fails; it is locked
// meanwhile, so that a second run into it fails at once. Prints "status:
// <HTTP status>", "bytes: <body bytes received by this run, over every retry
// and answer>" and, when the transfer fails, "error: <code> <description>".
// Exit status: see kExitRule.
#include "http/NXHTTPRequest.h"
#include "platform/PathStatus.h"

#include "ToolSupport.h"

#include <QEventLoop>

namespace {

// The one rule, shown by --help and followed by main(): the answer's status
// decides first, whatever else went wrong with the transfer.
const char* const kExitRule
    = "Exit status: 3 when the server answered with a status of 400 or above, whether or not the "
      "transfer also failed (a 401 or 407 whose credentials are missing or refused included), but "
      "for a 416 that finds FILE.part whole; FILE is then left as it was. 4 when the server "
      "redirected to an address that is not followed (not http or https, or none at all) or "
      "answered another status of 300 to 399 (such as 304); FILE is then not written. Otherwise 0 "
      "when the body arrived (a 416 that finds FILE.part whole included), 1 when the transfer "
      "failed (after a redirect that was followed too), and 2 on a usage error (a FILE that is "
      "already there included: nothing is asked then).";

// Configures the request from the command line; an empty result is a usage error.
QString configure(NXHTTPRequest& request, const QCommandLineParser& parser)
{
    const QString output = parser.value(QStringLiteral("output"));
    if (output.isEmpty())
        return QStringLiteral("--output FILE is needed");
    // The body never replaces a file, and a pipe nobody reads would hold
    // the transfer for good: said before anything is asked.
    if (pathExists(output))
        return QStringLiteral("--output FILE must be a new name: a file of that name is there");
    request.setDownloadDestinationPath(output);
    if (parser.isSet(QStringLiteral("resume"))) {
        request.setTemporaryFileDownloadPath(output + QStringLiteral(".part"));
        request.setAllowResumeForFileDownloads(true);
    }
    if (parser.isSet(QStringLiteral("proxy"))) {
        const QString proxy = parser.value(QStringLiteral("proxy"));
        const qsizetype colon = proxy.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const int port = proxy.mid(colon + 1).toInt(&ok);
        if (colon <= 0 || !ok || port <= 0 || port > 65535)
            return QStringLiteral("--proxy wants HOST:PORT");
        request.setProxyHost(proxy.left(colon));
        request.setProxyPort(port);
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
        if (!ok || seconds <= 0)
            return QStringLiteral("--timeout wants a positive number of seconds");
        request.setTimeOutSeconds(seconds);
    }
    return {};
}

// kExitRule, from the finished request.
int exitStatus(const NXHTTPRequest& request)
{
    const HttpError failure = request.error();
    const int status = request.responseStatusCode();
    // A 416 to the range after a partial file that still counts says that
    // file holds all of the body: the request finishes it into FILE.
    const bool foundWhole = status == 416 && request.partialDownloadSize() > 0;
    if (status >= 400 && !foundWhole)
        return 3;
    // Only a success's body is written: any other 3xx leaves no FILE either.
    if (failure.code() == int(NXHTTPRequestErrorType::RedirectNotFollowed) || status / 100 == 3)
        return 4;
    return failure.isNull() ? 0 : 1;
}

int fetch(const QCommandLineParser& parser)
{
    if (parser.positionalArguments().size() != 1)
        return usage(QStringLiteral("one URL is needed"));

    const auto request
        = NXHTTPRequest::requestWithURL(QUrl::fromUserInput(parser.positionalArguments().first()));
    if (const QString problem = configure(*request, parser); !problem.isEmpty())
        return usage(problem);
    QEventLoop loop;
    request->setCompletionBlock([&loop] { loop.quit(); });
    request->setFailedBlock([&loop] { loop.quit(); });
    request->startAsynchronous();
    loop.exec();

    print(QStringLiteral("status: %1").arg(request->responseStatusCode()));
    print(QStringLiteral("bytes: %1").arg(request->bytesReadInAllAnswers()));
    const HttpError failure = request->error();
    if (!failure.isNull())
        print(
            QStringLiteral("error: %1 %2").arg(failure.code()).arg(failure.localizedDescription()));
    return exitStatus(*request);
}

} // namespace

int main(int argc, char** argv)
{
    const ToolCommandLine commandLine { QStringLiteral("Fetches one URL into a file.\n\n")
            + QString::fromLatin1(kExitRule),
        { { QStringLiteral("output"), QStringLiteral("Destination file."), QStringLiteral("FILE") },
            { QStringLiteral("resume"), QStringLiteral("Continue FILE.part.") },
            { QStringLiteral("proxy"), QStringLiteral("HTTP proxy."), QStringLiteral("HOST:PORT") },
            { QStringLiteral("timeout"), QStringLiteral("Idle time-out."), QStringLiteral("S") } },
        QStringLiteral("url"), QStringLiteral("http or https address") };
    return runTool(argc, argv, commandLine, &fetch);
}
