#pragma once

#include "provision/provisionjob.h"
#include "provision/readerrecord.h"
#include "settings/readersettings.h"
#include "settings/settingsfile.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class DeviceMonitor;
class History;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTableWidget;

// A bench: one set of settings onto every reader that comes along, each
// read, compared, written only where it differs and read back. Readers
// already attached wait for the user; readers plugged in while it is open
// are taken at once. The work runs in the runner's threads: the window
// never waits for a reader.
class ProvisionWindow : public QWidget
{
    Q_OBJECT

public:
    // The settings in the main window's form, as Save Settings would keep
    // them.
    using FormSettings = std::function<ReaderSettings()>;

    ProvisionWindow(History *history, DeviceMonitor *monitor, FormSettings formSettings, QWidget *parent = nullptr);
    ~ProvisionWindow() override;

    // The settings come from the file at path; false, with the reasons in
    // the window's list, when it is not a settings file (nothing is then
    // written until valid settings are chosen).
    bool useFile(const QString &path);
    void useForm();

    // Writes every reader listed as attached.
    void provisionAttached();
    // This run's records, one JSON line each.
    bool saveReportTo(const QString &path, QString *error);
    QList<ProvisionRecord> records() const;
    // "2 confirmed, 1 failed, 0 already set".
    QString countText() const;
    // Readers being worked on now.
    int busy() const;

signals:
    // The window is gone from the screen; it deletes itself afterwards.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    enum class RowState { Attached, Working, Done, Gone };
    struct Row
    {
        ProvisionTarget target;
        RowState state = RowState::Attached;
        std::optional<ProvisionRecord> record;
    };

    void build();
    void listAttached();
    // Settings (from a file or the form) that the next reader gets.
    void takeSettings(const QByteArray &json, const QString &origin);
    void refuseSettings(const QStringList &why);
    void onReaderAdded(const QString &node);
    void onNodeRemoved(const QString &node);
    void start(int row);
    void onFinished(const ProvisionRecord &record);
    void onIdle();
    void showRow(int row);
    void announceRow(int row);
    void updateCount();
    void updateControls();
    void browse();
    void chooseAndSaveReport();
    int rowOf(const QString &path, RowState state) const;

    History *m_history;
    FormSettings m_formSettings;
    std::optional<SettingsPatch> m_patch;
    std::unique_ptr<ProvisionRunner> m_runner;
    QList<Row> m_rows;
    bool m_closeWhenIdle = false;

    QRadioButton *m_fromFile = nullptr;
    QRadioButton *m_fromForm = nullptr;
    QLineEdit *m_path = nullptr;
    QPushButton *m_browse = nullptr;
    QListWidget *m_settingsList = nullptr;
    QLabel *m_count = nullptr;
    QLabel *m_emptyHint = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_provision = nullptr;
    QPushButton *m_saveReport = nullptr;
    QPushButton *m_close = nullptr;
};
