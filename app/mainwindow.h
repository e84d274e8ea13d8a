#pragma once

#include "app/settingsform.h"
#include "link/readerlink.h"
#include "settings/readersettings.h"
#include "settings/settingswrite.h"

#include <QMainWindow>

#include <QPointer>

#include <memory>
#include <optional>

class DeviceEventSource;
class History;
class ProvisionWindow;
struct BenchFormOffer;
class QJsonObject;
class QMenu;
struct ProvisionRecord;
struct ReaderIdentity;
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

    // The bench; the window lets go of its connection while it is open and
    // takes it up again when it closes. settingsFile may be empty.
    ProvisionWindow *openProvisionWindow(const QString &settingsFile = QString());
    ProvisionWindow *provisionWindow() const;
    // Writes back what the connected reader held before its last write,
    // once the user has seen what changes back.
    void undoLastWrite();
    void showHistory();
    // Fills the form from a history entry's settings, as Load Settings does.
    bool loadIntoForm(const QJsonObject &settings, const QString &origin);
    History &history() const { return *writeHistory; }

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
    void showStatus(const QString &text, bool stays = false);
    void showConnection(const QString &text);
    // What waits until the window is on the screen.
    void finishStartUp();
    void updateUnwritten();
    // Before what would replace the form: true when it holds nothing
    // unwritten, or the user says to replace it with what (No by default).
    bool mayReplaceForm(const QString &what);
    // Closes without asking about edits: the reader has been told to go.
    Q_INVOKABLE void closeWithoutAsking();
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
    // Connect's open and read, over USB of the reader at usbPath (empty:
    // the only one attached).
    void connectReader(const QString &usbPath);
    // True when the form was read from the connected reader, or the user
    // says to write it there anyway.
    bool formMayGoToThisReader();
    // The pickers insert a name only when one is picked from the opened list.
    void connectPickers();
    // The File menu's Load Settings entry: only while a reader is connected.
    void updateLoadSettingsAction();

    // The history's menu entries and the bench's.
    void addHistoryActions(QMenu *file);
    // Set Status once the form's request is checked: reads what the reader
    // holds, keeps it in the history, writes, reads back and says how it went.
    void writeWithSnapshot(const SettingsWriteRequest &request);
    // The guarded write of the connected reader from what it holds (nothing:
    // it could not be read, for the reason unreadable); false when the user
    // chose not to write without keeping that (nothing was sent). An undo
    // names the entry it takes back.
    bool windowWrite(const std::optional<ReaderSettings> &held, const QString &unreadable,
                     const SettingsWriteRequest &request, ProvisionRecord *record,
                     const QString &undoes = QString());
    // The write's boxes: success, what the read-back found, where it stopped.
    // fromForm: the form asked for the write (else it is shown the result).
    void showWriteOutcome(const ProvisionRecord &record, const SettingsWriteRequest &request, bool fromForm);
    ReaderIdentity connectedIdentity() const;
    // A warning in the status bar when the history had damaged lines.
    void warnDamagedHistory(int damagedLines);
    WriteTransport formTransport() const;
    void onBenchClosed();
    // The form as the bench may take it: only once somebody chose what it holds.
    BenchFormOffer benchFormOffer() const;

    // Shared: the bench's threads write to it too.
    std::shared_ptr<History> writeHistory;
    QPointer<ProvisionWindow> bench;
    // Whether a connection was open when the bench took over, and over USB
    // to which reader.
    bool reconnectAfterBench = false;
    // Quit was chosen while the bench had readers in hand: the window ends
    // when the bench does, and connects nothing again.
    bool quitWithBench = false;
    QString reconnectUsbPath;

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
