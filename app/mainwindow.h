#pragma once

#include "app/settingsform.h"
#include "link/readerlink.h"
#include "settings/readersettings.h"

#include <QMainWindow>

#include <memory>
#include <optional>

class HidDevice;
class QByteArray;
class QKeyEvent;
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

private:
    void onLinkLost(ReaderLink::Transport transport, const QString &reason);
    // The connect button and the connection's controls as they are without one.
    void showDisconnected();

    Ui::MainWindow *ui;
    SettingsForm form;
    charThread *workerThread = nullptr;
    ReaderLink *readerLink;
    // The device the diagnostic dump leaves open, outside the connection.
    std::unique_ptr<HidDevice> diagnosticDevice;

    // Set by the old read-once path of ReadStatus; cleared on every connect.
    bool statusPolled = false;
    bool settingsLoaded = false;
    quint8 currentTab = 0;
};
