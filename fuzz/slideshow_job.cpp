// The slideshow job file, read by the slideshow engine's SlideshowJob::read
// from a file as the engine reads the job the program wrote (an XML or binary
// property list). The engine renders straight from what it reads, so a job
// read has a frame rate and a show length within bounds, an even frame size of
// at least 2 by 2 and an absolute target; a job refused says why.
#include "FuzzSupport.h"

#include "SlideshowJob.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = Fuzz::privateFolder() + QStringLiteral("/job.plist");
    QFile file(path);
    Fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(Fuzz::bytesOf(data, size)) == qint64(size),
        "the job file could not be written");
    file.close();
    QString error;
    const std::optional<SlideshowJob> job = SlideshowJob::read(path, error);
    if (!job) {
        Fuzz::require(!error.isEmpty(), "a job refused without a reason");
        return 0;
    }
    Fuzz::require(job->videoFPS > 0 && job->videoFPS <= 240, "a frame rate out of bounds");
    Fuzz::require(
        job->showDuration >= 0 && job->showDuration <= 3600, "a show length out of bounds");
    Fuzz::require(job->videoSize.width() >= 2 && job->videoSize.height() >= 2
            && job->videoSize.width() % 2 == 0 && job->videoSize.height() % 2 == 0,
        "a frame size that is not even or too small");
    Fuzz::require(QDir::isAbsolutePath(job->targetPath), "a target that is not absolute");
    return 0;
}
