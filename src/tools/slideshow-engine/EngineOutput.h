#pragma once

#include <QString>

#include <chrono>

// What the engine tells the program that started it. Each message is one
// write, so that it arrives as a read of its own:
//   reading:<photo path>  (each photo as it is read, before the first frame)
//   progress:<total frames>:<frames written>:<photo path>
//   written:<bytes>  (the movie's size, as it grows while ffmpeg works on)
//   waited:ffmpeg:<milliseconds>  (stopped while ffmpeg took nothing that long)
//   result:<code>:<movie path>
// Complaints go to standard error, one line each.
namespace EngineOutput {

void complain(const QString& line);
void result(int code, const QString& target);
// Reading a large album's photos takes a while before any frame is written:
// a line a photo shows the engine is moving.
void photoRead(const QString& photo);
void written(qint64 bytes);
void waitedForFfmpeg(std::chrono::milliseconds waited);

// Progress lines for one render, at most ten a second, so that two never
// reach the reader as one. A photo is on screen for at least a second of the
// movie, so unless the render runs ten times faster than real time every
// photo gets a line of its own.
class Progress {
public:
    explicit Progress(qint64 totalFrames);
    void photoShown(qint64 framesWritten, const QString& photo);
    void frameWritten(qint64 framesWritten);

private:
    void send(qint64 framesWritten);

    qint64 m_total;
    QString m_photo;
    std::chrono::steady_clock::time_point m_lastSent;
};

} // namespace EngineOutput
