#pragma once

#include "provision/provisionjob.h"
#include "provision/readerrecord.h"
#include "settings/readersettings.h"
#include "settings/settingsfile.h"

#include <QDateTime>
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

// The settings in the main window's form, as Save Settings would keep them,
// when the form may be a bench's source.
struct BenchFormOffer
{
    // Why the form is no source now (shown on the disabled choice); empty
    // when it is one.
    QString unavailable;
    // Why its values cannot be written as they stand (Set Status's checks).
    QStringList problems;
    ReaderSettings settings;
};

// A bench: one set of settings onto every reader that comes along, each
// read, compared, written only where it differs and read back. Readers
// already attached wait for the user; readers plugged in while it is open
// are taken at once. The work runs in the runner's threads: the window
// never waits for a reader.
class ProvisionWindow : public QWidget
{
    Q_OBJECT

public:
    using FormSettings = std::function<BenchFormOffer()>;

    ProvisionWindow(History *history, DeviceMonitor *monitor, FormSettings formSettings, QWidget *parent = nullptr);
    ~ProvisionWindow() override;

    // Readers plugged in from now on are told of by monitor (which may come
    // after the window: the main window sets its own up once shown).
    void watch(DeviceMonitor *monitor);

    // The settings come from the file at path; false, with the reasons in
    // the window's list, when it is not a settings file (nothing is then
    // written until valid settings are chosen).
    bool useFile(const QString &path);
    void useForm();

    // Writes every reader attached that is not yet right.
    void provisionAttached();
    // Tries again every reader attached whose latest attempt failed.
    void retryFailed();
    // The report: a header line (settings, host, version, start), every
    // attempt's record, a summary line; one JSON document a line.
    bool saveReportTo(const QString &path, QString *error);
    // Each reader's latest record, in the rows' order.
    QList<ProvisionRecord> records() const;
    // The readers by their latest result: "2 confirmed, 1 already set, 1 failed".
    QString countText() const;
    // Where the report was saved, when it was.
    QString reportStatus() const;
    // Readers being worked on now.
    int busy() const;

signals:
    // The window is gone from the screen; it deletes itself afterwards.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // One row a reader, whatever its attempts: Waiting until first tried.
    enum class RowState { Waiting, Working, Done };
    struct Row
    {
        ProvisionTarget target;
        RowState state = RowState::Waiting;
        bool present = true;
        // Plugged in again while its attempt runs: tried again after it.
        bool queued = false;
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
    void updateFormChoice();
    void browse();
    void chooseAndSaveReport();
    int rowOfReader(const QString &readerId) const;
    int rowAt(const QString &path) const;
    // Present, not in hand, and its latest attempt (if any) not right.
    bool wantsWrite(const Row &row) const;
    bool failedAndHere(const Row &row) const;

    History *m_history;
    FormSettings m_formSettings;
    std::optional<SettingsPatch> m_patch;
    // What the report's header names: the file (empty: the form) and its bytes.
    QString m_settingsOrigin;
    QByteArray m_settingsBytes;
    QDateTime m_started;
    std::unique_ptr<ProvisionRunner> m_runner;
    QList<Row> m_rows;
    // Every attempt's record, in the order they ended.
    QList<ProvisionRecord> m_attempts;
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
    QPushButton *m_retry = nullptr;
    QLabel *m_reportStatus = nullptr;
    QPushButton *m_saveReport = nullptr;
    QPushButton *m_close = nullptr;
};
