#pragma once

#include <QVariantMap>

// The conversion engine's options, chosen in the preferences and read by the
// conversion driver when a node's conversion starts.
class DNMainWindowSetting {
public:
    DNMainWindowSetting();

    bool deinterlacing() const { return m_deinterlacing; }
    void setDeinterlacing(bool on) { m_deinterlacing = on; }
    bool safemode() const { return m_safemode; }
    void setSafemode(bool on) { m_safemode = on; }
    bool highQuality() const { return m_highQuality; }
    void setHighQuality(bool on) { m_highQuality = on; }
    // Encoder threads; the processor count unless the user chose otherwise.
    qint32 cpuCore() const { return m_cpuCore; }
    void setCpuCore(qint32 cores) { m_cpuCore = cores; }

    QVariantMap archive() const;
    void restore(const QVariantMap& map);

private:
    bool m_deinterlacing = false;
    bool m_safemode = false;
    bool m_highQuality = false;
    qint32 m_cpuCore;
};
