#pragma once

#include <QString>
#include <QVariantMap>

// The screen recorder's options, read and written live by its window. The
// first record made also makes the default recordings folder.
class DNScreenRecorderSetting {
public:
    DNScreenRecorderSetting();

    // The default folder of recordings, inside the videos folder.
    static QString defaultRecordFolder();

    quint64 sessionPresetIndex() const { return m_sessionPresetIndex; }
    void setSessionPresetIndex(quint64 index) { m_sessionPresetIndex = index; }
    quint64 maxFramerate() const { return m_maxFramerate; }
    void setMaxFramerate(quint64 rate) { m_maxFramerate = rate; }
    quint64 countDown() const { return m_countDown; }
    void setCountDown(quint64 seconds) { m_countDown = seconds; }
    QString targetFolder() const { return m_targetFolder; }
    void setTargetFolder(const QString& folder) { m_targetFolder = folder; }
    bool captureMouse() const { return m_captureMouse; }
    void setCaptureMouse(bool on) { m_captureMouse = on; }
    bool openRecordMovie() const { return m_openRecordMovie; }
    void setOpenRecordMovie(bool on) { m_openRecordMovie = on; }
    bool addToConvertList() const { return m_addToConvertList; }
    void setAddToConvertList(bool on) { m_addToConvertList = on; }

    QVariantMap archive() const;
    void restore(const QVariantMap& map);

private:
    quint64 m_sessionPresetIndex = 2;
    quint64 m_maxFramerate = 10;
    quint64 m_countDown = 3;
    QString m_targetFolder;
    bool m_captureMouse = true;
    bool m_openRecordMovie = true;
    bool m_addToConvertList = false;
};
