#pragma once

#include "app/settingsform.h"
#include "link/readerlink.h"
#include "settings/readersettings.h"

#include <QMainWindow>

#include <memory>
#include <optional>

class DeviceEventSource;
class DeviceMonitor;
class HidDevice;
class QByteArray;
class QCompleter;
class QKeyEvent;
class QLabel;
class QScrollArea;
class QTimer;
class charThread;

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

    // The connection every slot talks through.
    ReaderLink &link() const { return *readerLink; }
    quint8 currentTabIndex() const { return currentTab; }

    void SetIButtonControlsEnabled(bool on);
    void DisconnectReader();
    void GetIBTValue();
    // Shows a serial settings reply (from its "1BT" to its CR) in the form;
    // what it decoded, nothing when it is not one.
    std::optional<ReaderSettings> ParseSerialReply(const QByteArray &reply);

    // The status bar's line: a message about a file or an action while one
    // shows, else the connection's state.
    QString statusText() const;
    // Whether the form holds what was last read from or written to the reader.
    bool hasUnwrittenEdits() const;
    // The form fits the window, or scrolls inside it where the screen has
    // too little room; called again when the window moves to a screen.
    void fitToScreen();
    // The File menu's work once its dialog has a file name. False, with a
    // box saying why, when it could not be done; a file that is not valid
    // settings leaves the form as it was.
    bool saveSettingsTo(const QString &path);
    bool loadSettingsFrom(const QString &path);
    bool saveOutputTo(const QString &path);
    // Where plugged and pulled devices are heard of (udev by default); a
    // null source hears nothing.
    void watchDevices(std::unique_ptr<DeviceEventSource> source);
    // Offers the serial ports present as completions of the port name.
    void refreshPortList();

public slots:
    void GetIBTValueClick();
    void SetIBTValueClick();
    void threadStart();
    void threadPause();
    void threadStop();
    void ReadStatus();
    void ConnectClick();
    void PowerPassClick();
    void PreAmbleEnableClick();
    void PostAmbleEnableClick();
    void RemoveDataEnableClick();
    void TestButClick();
    void tabChange(int index);
    void TriggerClick();
    void ChangeModeClick();
    void FWUpdateClick();

private slots:
    void on_Searal_radcmd_clicked();
    void on_USBKB_radcmd_clicked();
    void onReadyRead(const QByteArray &chunk);
    void Pre_selectChanged(int index);
    void Post_selectChanged(int index);
    void Remove_selectChanged(int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    // A message for a few seconds beside the connection's state.
    void showStatus(const QString &text);
    void showConnection(const QString &text);
    // What waits until the window is on the screen.
    void finishStartUp();
    void updateUnwritten();
    // Closes without asking about edits: the reader has been told to go.
    void closeWithoutAsking();
    // The interface and port of the last connection that opened, offered
    // again at the next start.
    void presetConnection(bool usbReaderPresent);
    void rememberConnection();
    void onUsbReaderAdded(const QString &node);
    void onHidNodeRemoved(const QString &node);
    void chooseAndSaveSettings();
    void chooseAndLoadSettings();
    void chooseAndSaveOutput();
    void about();
    void onLinkLost(ReaderLink::Transport transport, const QString &reason);
    // The connect button and the connection's controls as they are without one.
    void showDisconnected();

    Ui::MainWindow *ui;
    SettingsForm form;
    charThread *workerThread = nullptr;
    ReaderLink *readerLink;
    // The device the diagnostic dump leaves open, outside the connection.
    std::unique_ptr<HidDevice> diagnosticDevice;
    QLabel *statusLabel = nullptr;
    QCompleter *portCompleter = nullptr;
    DeviceMonitor *deviceMonitor = nullptr;
    QScrollArea *formScroll = nullptr;
    bool askBeforeClosing = true;
    bool shownOnce = false;
    std::unique_ptr<QTimer> afterShow;

    // Set by the old read-once path of ReadStatus; cleared on every connect.
    bool statusPolled = false;
    bool settingsLoaded = false;
    quint8 currentTab = 0;
};
