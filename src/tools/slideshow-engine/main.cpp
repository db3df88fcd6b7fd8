// quillon-slideshow-engine JOBFILE
//
// Renders the slideshow a job file describes into a movie and exits. Standard
// output carries "progress:" lines while it works and one "result:" line at
// the end; the exit status is the result code. README.md has the details.
#include "EngineOutput.h"
#include "SlideshowJob.h"
#include "SlideshowRender.h"

#include <QCoreApplication>
#include <QFile>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> stopSignal { 0 };

void noteStop(int signal)
{
    stopSignal.store(signal);
}

// SIGTERM, SIGINT and SIGHUP end the render cleanly: ffmpeg is ended and the
// unfinished file removed. Without SA_RESTART a blocked write returns, so the
// request is seen at once. A reader of our output that goes away must not
// kill us with SIGPIPE before we have cleaned up.
void installSignalHandlers()
{
    struct sigaction stop { };
    stop.sa_handler = noteStop;
    sigemptyset(&stop.sa_mask);
    for (const int signal : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(signal, &stop, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested()
{
    return stopSignal.load() != 0;
}

int finish(int code, const QString& target, const QString& reason)
{
    if (code != SlideshowRender::Succeeded)
        EngineOutput::complain(reason);
    EngineOutput::result(code, target);
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    installSignalHandlers();
    const QCoreApplication application(argc, argv);
    if (argc != 2)
        return finish(
            SlideshowRender::BadJob, {}, QStringLiteral("usage: %1 JOBFILE").arg(argv[0]));
    QString reason;
    const std::optional<SlideshowJob> job = SlideshowJob::read(QFile::decodeName(argv[1]), reason);
    if (!job)
        return finish(SlideshowRender::BadJob, {}, "bad job: " + reason);
    SlideshowRender render(*job, stopRequested);
    const SlideshowRender::Code code = render.run(reason);
    return finish(code, job->targetPath, reason);
}
