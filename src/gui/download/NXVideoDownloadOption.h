#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>

#include <chrono>
#include <functional>

class NXDialogs;
class NXPathField;
class NXVideoDownloadSetting;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The download options: output folder, favourite container and resolution,
// a proxy, and the after-download boxes. Every value lives in the download
// settings; the boxes and pop-ups store at once, the proxy texts on Done.
class NXVideoDownloadOption : public QDialog {
    Q_OBJECT
public:
    // Runs `work` once after `delay`; tests run it when they choose.
    using Timer = std::function<void(std::chrono::milliseconds delay, std::function<void()> work)>;

    static constexpr int kHeightWithoutProxy = 275;
    static constexpr int kHeightWithProxy = 300;

    NXVideoDownloadOption(
        NXVideoDownloadSetting& setting, NXDialogs& dialogs, QWidget* parent = nullptr);
    void setTimer(Timer timer) { m_timer = std::move(timer); }

    static const QStringList& formatsList();
    static const QStringList& resolutionsList();

    // Shows the settings on a sheet on `window`; half a second later the proxy
    // segment is applied once, so that the panel takes its height.
    void displayPanelWithWindow(QWidget* window);

    QString selectedFormat() const;
    void setSelectedFormat(const QString& format);
    QString selectedResolution() const;
    void setSelectedResolution(const QString& resolution);

    // Segment 0 turns the proxy on, segment 1 off.
    void enableProxyChanged(int segment);
    // Stores the proxy texts and ends the sheet; a bad entry with the proxy
    // on shows the notice and keeps it open.
    void doneSetting();
    void brower2Selected();

    NXPathField* targetFolderField() const { return m_targetFolderField; }
    QLineEdit* proxyAddress() const { return m_proxyAddress; }
    QLineEdit* proxyPort() const { return m_proxyPort; }
    QLabel* wrongNotice() const { return m_wrongNotice; }
    QGroupBox* optionalBox() const { return m_optionalBox; }

private:
    void buildLayout();
    QLayout* buildChoices();
    QWidget* buildProxy();
    void loadSettings();
    void resizeKeepingTop(int height);

    NXVideoDownloadSetting& m_setting;
    NXDialogs& m_dialogs;
    Timer m_timer;
    QPointer<QWidget> m_currentWindow;

    NXPathField* m_targetFolderField = nullptr;
    QComboBox* m_formats = nullptr;
    QComboBox* m_resolutions = nullptr;
    QButtonGroup* m_enableProxy = nullptr;
    QGroupBox* m_optionalBox = nullptr;
    QLineEdit* m_proxyAddress = nullptr;
    QLineEdit* m_proxyPort = nullptr;
    QLabel* m_wrongNotice = nullptr;
    QCheckBox* m_speed = nullptr;
    QCheckBox* m_openTarget = nullptr;
    QCheckBox* m_shutdown = nullptr;
    QPushButton* m_done = nullptr;
};
