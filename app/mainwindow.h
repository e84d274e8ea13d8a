#pragma once

#include <QMainWindow>

class QByteArray;
class QKeyEvent;
class ReaderLink;
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

    // The connection state every slot consults; one per window, and the
    // program has one window.
    ReaderLink &link() const { return *readerLink; }
    quint8 currentTabIndex() const { return currentTab; }

    void SetIButtonControlsEnabled(bool on);
    void DisconnectReader();
    void GetIBTValue();
    void ParseSerialReply(const QByteArray &chunk);

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
    void onReadyRead();
    void Pre_selectChanged(int index);
    void Post_selectChanged(int index);
    void Remove_selectChanged(int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void onSerialPortFailed();

    Ui::MainWindow *ui;
    charThread *workerThread = nullptr;
    ReaderLink *readerLink;

    // Set by the old read-once path of ReadStatus; cleared on every connect.
    bool statusPolled = false;
    bool settingsLoaded = false;
    quint8 currentTab = 0;
};
