#include "gui/player/PreviewTestSupport.h"

#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "player/NXMPlayerControl.h"
#include "profiles/DNProfileManager.h"
#include "services/DNSetting.h"
#include "shell/NXAppController.h"

#include <QFile>

#include <cmath>

bool PreviewClips::ffmpeg(const QStringList& arguments, const QString& output)
{
    QProcess process;
    process.start("ffmpeg",
        QStringList { "-nostdin", "-v", "error", "-y" } + arguments + QStringList { output });
    return process.waitForFinished(60'000) && process.exitCode() == 0;
}

bool PreviewClips::makeShades(
    const QString& output, int seconds, bool withSound, int keyFrameSeconds)
{
    const QString pictures = QStringLiteral("nullsrc=size=640x360:rate=10:duration=%1,"
                                            "geq=lum='if(lt(X,64)*lt(Y,64),30+20*floor(T),128)'"
                                            ":cb=128:cr=128")
                                 .arg(seconds);
    QStringList arguments { "-f", "lavfi", "-i", pictures };
    if (withSound)
        arguments << "-f"
                  << "lavfi"
                  << "-i" << QStringLiteral("sine=frequency=440:duration=%1").arg(seconds) << "-c:a"
                  << "aac";
    return ffmpeg(arguments
            + QStringList { "-c:v", "libx264", "-preset", "ultrafast", "-g",
                QString::number(10 * keyFrameSeconds), "-pix_fmt", "yuv420p" },
        output);
}

bool PreviewClips::makePhoneClip(const QString& output)
{
    // The encoder writes no rotation; a copy carries it, as a counter-clockwise
    // "rotate" tag the way this ffmpeg reads it.
    const QString stored = output + ".stored.mp4";
    return ffmpeg({ "-f", "lavfi", "-i", "testsrc=size=1920x1080:rate=5:duration=2", "-c:v",
                      "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p" },
               stored)
        && ffmpeg({ "-i", stored, "-c", "copy", "-metadata:s:v:0", "rotate=270" }, output)
        && QFile::remove(stored);
}

int PreviewClips::secondShown(const QImage& painted, const QRectF& picture)
{
    const double scale = picture.width() / 640.0;
    const QPoint box = (picture.topLeft() + QPointF(32, 32) * scale).toPoint();
    // The box is grey, so any channel gives back its luma: (Y - 16) x 255 / 219.
    const double luma = 16 + qRed(painted.pixel(box)) * 219.0 / 255.0;
    return static_cast<int>(std::lround((luma - 30) / 20));
}

bool PreviewClips::makeNumbered(const QString& output, double soundLead, const QStringList& options)
{
    const QString pictures
        = QStringLiteral("nullsrc=size=320x180:rate=25:duration=30,"
                         "geq=lum='if(lt(Y,24),if(mod(floor(N/pow(2,floor(X/32))),2),235,16),"
                         "if(gte(Y,150)*gte(T,3)*lt(T,6),16,128))':cb=128:cr=128");
    const QString sound
        = QStringLiteral("aevalsrc=sin(2*PI*if(lt(t\\,%1)\\,440\\,880)*t):s=44100:d=31")
              .arg(soundLead + 3);
    return ffmpeg(QStringList { "-itsoffset", QString::number(soundLead), "-f", "lavfi", "-i",
                      pictures, "-f", "lavfi", "-i", sound, "-c:v", "libx264", "-preset",
                      "ultrafast", "-g", "40", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest" }
            + options,
        output);
}

int PreviewClips::numberShown(const QImage& painted, const QRectF& picture)
{
    const double scale = picture.width() / 320.0;
    int number = 0;
    for (int bit = 0; bit < 10; ++bit) {
        const QPoint middle = (picture.topLeft() + QPointF(32 * bit + 16, 12) * scale).toPoint();
        const int grey = qGray(painted.pixel(middle));
        if (grey > 96 && grey < 160)
            return -1; // the grey below the band: no number here
        number |= grey >= 160 ? 1 << bit : 0;
    }
    return number;
}

PreviewWindow::PreviewWindow()
{
    qputenv("QUILLON_PLAYER_AO", "null");
    window.emplace(DNSetting::shareSetting(), DNProfileManager::profileManager(),
        UserDefaults::standard(), dialogs, system);
    window->show();
    NotificationCenter::defaultCenter().addObserver(
        {}, player(), &*window, [this](const Notification& note) { posted << note.name; });
}

PreviewWindow::~PreviewWindow() = default;

NXMPlayerControl* PreviewWindow::player() const
{
    return window->playerControl();
}

NXMPlayerView& PreviewWindow::view() const
{
    return *window->playerView();
}

bool PreviewWindow::waitFor(const QString& name, int count)
{
    return waitUntil([&] { return posted.count(name) >= count; });
}
