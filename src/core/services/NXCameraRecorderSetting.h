#pragma once

#include <QString>
#include <QVariantMap>

// The camera recorder's options.
class NXCameraRecorderSetting {
public:
    NXCameraRecorderSetting();

    double volume() const { return m_volume; }
    void setVolume(double volume) { m_volume = volume; }
    bool isAutoAdd2ConvertList() const { return m_isAutoAdd2ConvertList; }
    void setIsAutoAdd2ConvertList(bool on) { m_isAutoAdd2ConvertList = on; }
    QString defaultTargetPlace() const { return m_defaultTargetPlace; }
    void setDefaultTargetPlace(const QString& folder) { m_defaultTargetPlace = folder; }
    bool isFinishedOpenIt() const { return m_isFinishedOpenIt; }
    void setIsFinishedOpenIt(bool on) { m_isFinishedOpenIt = on; }
    bool isShowInFinder() const { return m_isShowInFinder; }
    void setIsShowInFinder(bool on) { m_isShowInFinder = on; }

    QVariantMap archive() const;
    void restore(const QVariantMap& map);

private:
    double m_volume = 0.5;
    bool m_isAutoAdd2ConvertList = false;
    QString m_defaultTargetPlace;
    bool m_isFinishedOpenIt = true;
    bool m_isShowInFinder = false;
};
