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

#include <sys/prctl.h>

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

// A parent that asked for us to die with it asked for SIGKILL, which would
// leave the partial movie behind: SIGTERM ends the render as cleanly as a
// stop. Were the parent gone already, SIGKILL would have come by now.
void softenDeathSignal()
{
    int signal = 0;
    if (::prctl(PR_GET_PDEATHSIG, &signal) == 0 && signal != 0)
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
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
    softenDeathSignal();
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
    return finish(code, render.target(), reason);
}
