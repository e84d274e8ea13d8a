#include "app/provisionwindow.h"

#include "app/accessibility.h"
#include "app/screenfit.h"

#include "link/devicemonitor.h"
#include "link/safefile.h"
#include "provision/benchreport.h"
#include "provision/history.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStyle>
#include <QTableWidget>
#include <QUuid>
#include <QVBoxLayout>

#include <utility>

namespace {

enum Column { IdentityColumn, PathColumn, FirmwareColumn, ResultColumn, ReasonColumn, ColumnCount };

const char LiveStatusProperty[] = "tavrinLiveStatus";

// A label that assistive technology takes for a status line, so that what
// it says next is read out without the user going to it.
class LiveStatusAccessible : public QAccessibleWidget
{
public:
    explicit LiveStatusAccessible(QWidget *label)
        : QAccessibleWidget(label, QAccessible::StatusBar)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name || t == QAccessible::Value)
            return static_cast<QLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *liveStatusFactory(const QString &, QObject *object)
{
    if (object && object->isWidgetType() && object->property(LiveStatusProperty).toBool()
        && qobject_cast<QLabel *>(object))
        return new LiveStatusAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

QLabel *liveStatusLabel(QWidget *parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(liveStatusFactory);
        return true;
    }();
    Q_UNUSED(installed);
    auto *label = new QLabel(parent);
    label->setProperty(LiveStatusProperty, true);
    return label;
}

QString valueText(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool() ? QStringLiteral("on") : QStringLiteral("off");
    if (value.isDouble())
        return QString::number(value.toInt());
    return value.toString();
}


bool isFailure(ProvisionResult result)
{
    return result == ProvisionResult::Failed || result == ProvisionResult::Unconfirmed;
}

} // namespace

ProvisionWindow::ProvisionWindow(History *history, DeviceMonitor *monitor, FormSettings formSettings,
                                 QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_history(history)
    , m_formSettings(std::move(formSettings))
{
    Accessibility::install();
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Provision Readers"));
    setObjectName(QStringLiteral("provisionWindow"));
    build();
    watch(monitor);
    listAttached();
    updateCount();
    updateControls();
}

ProvisionWindow::~ProvisionWindow() = default;

void ProvisionWindow::watch(DeviceMonitor *monitor)
{
    if (!monitor)
        return;
    connect(monitor, &DeviceMonitor::usbReaderAdded, this, &ProvisionWindow::onReaderAdded, Qt::UniqueConnection);
    connect(monitor, &DeviceMonitor::hidNodeRemoved, this, &ProvisionWindow::onNodeRemoved, Qt::UniqueConnection);
}

void ProvisionWindow::build()
{
    auto *layout = new QVBoxLayout(this);

    auto *source = new QFormLayout;
    m_fromFile = new QRadioButton(QStringLiteral("Settings &file:"), this);
    m_fromFile->setObjectName(QStringLiteral("fromFile"));
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("settingsPath"));
    m_path->setAccessibleName(QStringLiteral("Settings file"));
    m_browse = new QPushButton(QStringLiteral("&Browse..."), this);
    m_browse->setObjectName(QStringLiteral("browse"));
    m_browse->setAccessibleName(QStringLiteral("Browse for the settings file"));
    auto *pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_browse);
    source->addRow(m_fromFile, pathRow);
    m_fromForm = new QRadioButton(QStringLiteral("The settings in the f&orm"), this);
    m_fromForm->setObjectName(QStringLiteral("fromForm"));
    source->addRow(m_fromForm);
    layout->addLayout(source);

    auto *setsLabel = new QLabel(QStringLiteral("The settings &set:"), this);
    m_settingsList = new QListWidget(this);
    m_settingsList->setObjectName(QStringLiteral("settingsList"));
    m_settingsList->setAccessibleName(QStringLiteral("The settings set"));
    m_settingsList->setMaximumHeight(m_settingsList->fontMetrics().height() * 7);
    // On a small screen at twice the scale the window may get little more
    // than its least height: the list and the table then scroll, two lines
    // of the list and one row of the table still showing.
    m_settingsList->setMinimumHeight(m_settingsList->fontMetrics().height() * 2 + 2 * m_settingsList->frameWidth());
    setsLabel->setBuddy(m_settingsList);
    layout->addWidget(setsLabel);
    layout->addWidget(m_settingsList);

    m_provision = new QPushButton(QStringLiteral("&Provision Attached Readers"), this);
    m_provision->setObjectName(QStringLiteral("provisionAttached"));
    m_retry = new QPushButton(QStringLiteral("Re&try Failed"), this);
    m_retry->setObjectName(QStringLiteral("retryFailed"));
    auto *runButtons = new QHBoxLayout;
    runButtons->addWidget(m_provision);
    runButtons->addWidget(m_retry);
    runButtons->addStretch(1);
    layout->addLayout(runButtons);

    m_count = liveStatusLabel(this);
    m_count->setObjectName(QStringLiteral("countLabel"));
    layout->addWidget(m_count);
    m_reportStatus = new QLabel(this);
    m_reportStatus->setObjectName(QStringLiteral("reportStatus"));
    m_reportStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_reportStatus->hide();
    layout->addWidget(m_reportStatus);

    auto *readersLabel = new QLabel(QStringLiteral("R&eaders:"), this);
    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("readersTable"));
    m_table->setAccessibleName(QStringLiteral("Readers"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Reader"), QStringLiteral("Path"), QStringLiteral("Firmware"),
                                        QStringLiteral("Result"), QStringLiteral("Reason")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    // Tab leaves the table for the buttons below; the arrows move inside it.
    m_table->setTabKeyNavigation(false);
    m_table->setMinimumHeight(m_table->horizontalHeader()->sizeHint().height()
                              + m_table->verticalHeader()->defaultSectionSize() + 2 * m_table->frameWidth());
    readersLabel->setBuddy(m_table);
    layout->addWidget(readersLabel);
    // Until the first reader shows, nothing on the bench says what to do.
    m_emptyHint = new QLabel(this);
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    m_emptyHint->setWordWrap(true);
    layout->addWidget(m_emptyHint);
    layout->addWidget(m_table, 1);

    auto *buttons = new QHBoxLayout;
    m_saveReport = new QPushButton(QStringLiteral("Save &Report..."), this);
    m_saveReport->setObjectName(QStringLiteral("saveReport"));
    m_close = new QPushButton(QStringLiteral("&Close"), this);
    m_close->setObjectName(QStringLiteral("close"));
    buttons->addWidget(m_saveReport);
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);

    // Outside a dialog a button takes Enter only when told to; Enter then
    // presses the button that has the focus, never one the user is not on.
    for (QPushButton *b : {m_browse, m_provision, m_retry, m_saveReport, m_close})
        b->setAutoDefault(true);
    setTabOrder(m_fromFile, m_path);
    setTabOrder(m_path, m_browse);
    setTabOrder(m_browse, m_fromForm);
    setTabOrder(m_fromForm, m_settingsList);
    setTabOrder(m_settingsList, m_provision);
    setTabOrder(m_provision, m_retry);
    setTabOrder(m_retry, m_table);
    setTabOrder(m_table, m_saveReport);
    setTabOrder(m_saveReport, m_close);

    connect(m_fromFile, &QRadioButton::clicked, this, [this] { useFile(m_path->text()); });
    connect(m_fromForm, &QRadioButton::clicked, this, &ProvisionWindow::useForm);
    connect(m_path, &QLineEdit::returnPressed, this, [this] { useFile(m_path->text()); });
    connect(m_browse, &QPushButton::clicked, this, &ProvisionWindow::browse);
    connect(m_provision, &QPushButton::clicked, this, &ProvisionWindow::provisionAttached);
    connect(m_retry, &QPushButton::clicked, this, &ProvisionWindow::retryFailed);
    connect(m_saveReport, &QPushButton::clicked, this, &ProvisionWindow::chooseAndSaveReport);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    m_fromFile->setChecked(true);
    refuseSettings({QStringLiteral("No settings chosen: name a settings file, or take the settings in the form.")});
    ScreenFit::place(this, QSize(760, 520));
}

bool ProvisionWindow::useFile(const QString &path)
{
    m_fromFile->setChecked(true);
    m_path->setText(path);
    if (path.isEmpty()) {
        refuseSettings({QStringLiteral("No settings file named.")});
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        refuseSettings({QStringLiteral("%1 could not be opened: %2").arg(path, file.errorString())});
        return false;
    }
    // One byte more than a settings file may have tells one that is longer.
    takeSettings(file.read(MaxSettingsFileBytes + 1), path);
    return m_patch.has_value();
}

void ProvisionWindow::useForm()
{
    const BenchFormOffer offer = m_formSettings();
    if (!offer.unavailable.isEmpty()) {
        // Nothing anybody chose: an empty form would wipe every reader.
        updateFormChoice();
        m_fromFile->setChecked(true);
        refuseSettings({offer.unavailable});
        return;
    }
    m_fromForm->setChecked(true);
    if (!offer.problems.isEmpty()) {
        refuseSettings(QStringList{QStringLiteral("The settings in the form are not used:")} + offer.problems);
        return;
    }
    takeSettings(QJsonDocument(settingsToJson(offer.settings)).toJson(QJsonDocument::Compact), QString());
}

void ProvisionWindow::updateFormChoice()
{
    const QString unavailable = m_formSettings().unavailable;
    m_fromForm->setToolTip(unavailable);
    m_fromForm->setEnabled(unavailable.isEmpty() && busy() == 0);
}

void ProvisionWindow::changeEvent(QEvent *event)
{
    // The form may have been read or loaded meanwhile in the main window.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        updateFormChoice();
    QWidget::changeEvent(event);
}

void ProvisionWindow::takeSettings(const QByteArray &json, const QString &origin)
{
    QStringList errors;
    // A bench takes USB readers only.
    std::optional<SettingsPatch> patch = parseSettingsPatch(json, WriteTransport::Hid, &errors, false,
                                                            origin.isEmpty() ? QString() : QFileInfo(origin).fileName());
    if (!patch) {
        if (!origin.isEmpty())
            errors.prepend(QStringLiteral("The settings in %1 are not used:").arg(origin));
        refuseSettings(errors);
        return;
    }
    m_settingsList->clear();
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() != QLatin1String("firmware"))
            m_settingsList->addItem(QStringLiteral("%1: %2").arg(settingLabel(it.key()), valueText(it.value())));
    }
    if (m_settingsList->count() == 0)
        m_settingsList->addItem(QStringLiteral("Nothing: every reader is left as it is."));
    m_patch = std::move(patch);
    if (origin != m_settingsOrigin || json != m_settingsBytes) {
        // Other settings make another run: a reader right by the old ones
        // is not right by these, and the report names one set of settings.
        for (Row &r : m_rows) {
            r.record.reset();
            if (r.state == RowState::Done)
                r.state = RowState::Waiting;
        }
        for (int row = 0; row < m_rows.size(); ++row)
            showRow(row);
        m_attempts.clear();
        m_started = QDateTime();
        m_reportStatus->hide();
        updateCount();
    }
    m_settingsOrigin = origin;
    m_settingsBytes = json;
    // Readers already in hand finish with the settings they started with.
    m_runner.reset();
    updateControls();
}

void ProvisionWindow::refuseSettings(const QStringList &why)
{
    m_patch.reset();
    m_settingsList->clear();
    m_settingsList->addItems(why);
    updateControls();
}

void ProvisionWindow::listAttached()
{
    for (const ProvisionTarget &target : attachedUsbReaders()) {
        m_rows.append({target, RowState::Waiting, true, false, std::nullopt});
        showRow(int(m_rows.size()) - 1);
    }
}

bool ProvisionWindow::wantsWrite(const Row &row) const
{
    return row.present && row.state != RowState::Working && !(row.record && isRight(row.record->result));
}

bool ProvisionWindow::failedAndHere(const Row &row) const
{
    return row.present && row.state == RowState::Done && row.record && isFailure(row.record->result);
}

void ProvisionWindow::provisionAttached()
{
    if (!m_patch)
        return;
    for (int row = 0; row < m_rows.size(); ++row) {
        if (wantsWrite(m_rows.at(row)))
            start(row);
    }
    updateControls();
}

void ProvisionWindow::retryFailed()
{
    if (!m_patch)
        return;
    for (int row = 0; row < m_rows.size(); ++row) {
        if (failedAndHere(m_rows.at(row)))
            start(row);
    }
    updateControls();
}

void ProvisionWindow::onReaderAdded(const QString &node)
{
    // Enumeration asks udev for its identity; a reader it does not list
    // (gone again already) still gets its row, whose open then fails.
    ProvisionTarget target;
    target.where = node;
    target.identity = {node, ReaderIdentity::Basis::DevicePath};
    for (const ProvisionTarget &attached : attachedUsbReaders()) {
        if (attached.where == node)
            target = attached;
    }
    // A reader is one row, however often it comes: plugged in again it may
    // sit at another path.
    int row = rowOfReader(target.identity.id);
    if (row < 0) {
        m_rows.append({target, RowState::Waiting, true, false, std::nullopt});
        row = int(m_rows.size()) - 1;
    }
    Row &r = m_rows[row];
    r.present = true;
    if (r.state == RowState::Working) {
        // Its attempt ends by itself (a reader pulled out fails); then it
        // is tried again at the path it has now.
        r.queued = true;
        r.target = target;
    } else {
        r.target = target;
        if (m_patch && wantsWrite(r))
            start(row);
    }
    showRow(row);
    announceRow(row);
    updateControls();
}

void ProvisionWindow::onNodeRemoved(const QString &node)
{
    // A reader in hand fails by itself, with the reason.
    const int row = rowAt(node);
    if (row < 0)
        return;
    m_rows[row].present = false;
    showRow(row);
    announceRow(row);
    updateControls();
}

void ProvisionWindow::start(int row)
{
    if (!m_runner) {
        WriteOptions options;
        options.history = m_history;
        // What this runner writes is one run, undone as a whole.
        options.runId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        options.retriedOnReplug = true;
        // No question on a bench: without the history nothing is written.
        m_runner = std::make_unique<ProvisionRunner>(*m_patch, options);
        connect(m_runner.get(), &ProvisionRunner::finished, this, &ProvisionWindow::onFinished);
        connect(m_runner.get(), &ProvisionRunner::idle, this, &ProvisionWindow::onIdle);
    }
    if (!m_started.isValid())
        m_started = QDateTime::currentDateTimeUtc();
    m_rows[row].state = RowState::Working;
    m_rows[row].queued = false;
    showRow(row);
    announceRow(row);
    m_runner->start(m_rows.at(row).target);
}

void ProvisionWindow::onFinished(const ProvisionRecord &record)
{
    m_attempts.append(record);
    const int row = rowOfReader(record.reader.id);
    if (row < 0)
        return;
    Row &r = m_rows[row];
    r.state = RowState::Done;
    r.record = record;
    const bool again = std::exchange(r.queued, false);
    if (again && r.present && m_patch && !isRight(record.result)) {
        start(row);
    } else {
        showRow(row);
        announceRow(row);
    }
    updateCount();
    updateControls();
}

void ProvisionWindow::onIdle()
{
    updateControls();
    if (m_closeWhenIdle && busy() == 0)
        close();
}

int ProvisionWindow::busy() const
{
    int n = 0;
    for (const Row &r : m_rows)
        n += r.state == RowState::Working ? 1 : 0;
    return n;
}

int ProvisionWindow::rowOfReader(const QString &readerId) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).target.identity.id == readerId)
            return row;
    }
    return -1;
}

int ProvisionWindow::rowAt(const QString &path) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).present && m_rows.at(row).target.where == path)
            return row;
    }
    return -1;
}

void ProvisionWindow::showRow(int row)
{
    if (row >= m_table->rowCount())
        m_table->setRowCount(row + 1);
    const Row &r = m_rows.at(row);
    const auto set = [this, row](int column, const QString &text) {
        QTableWidgetItem *item = m_table->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            m_table->setItem(row, column, item);
        }
        item->setText(text);
        item->setToolTip(text);
        return item;
    };
    set(IdentityColumn, r.record ? r.record->reader.id : r.target.identity.id);
    set(PathColumn, r.target.where);
    set(FirmwareColumn, r.record ? r.record->firmware : QString());
    QString state = QStringLiteral("attached");
    QString reason = r.record ? r.record->reason : QString();
    if (r.state == RowState::Working) {
        state = QStringLiteral("in progress");
        reason = r.queued ? QStringLiteral("Plugged in again: it is tried again once this attempt ends.") : QString();
    } else if (!r.present && !r.record) {
        state = QStringLiteral("unplugged");
        reason = QStringLiteral("Pulled out before it was provisioned.");
    }
    const bool done = r.state == RowState::Done && r.record;
    QTableWidgetItem *result = set(ResultColumn, done ? resultText(r.record->result) : state);
    set(ReasonColumn, reason);
    // A failure is told by its word, an icon and weight, never by colour alone.
    const bool failed = done && isFailure(r.record->result);
    QIcon icon;
    if (failed)
        icon = style()->standardIcon(QStyle::SP_MessageBoxCritical);
    else if (done)
        icon = style()->standardIcon(QStyle::SP_DialogApplyButton);
    result->setIcon(icon);
    QFont font = m_table->font();
    font.setBold(failed);
    for (int column = 0; column < ColumnCount; ++column)
        m_table->item(row, column)->setFont(font);
    for (int column : {IdentityColumn, PathColumn, FirmwareColumn, ResultColumn})
        m_table->resizeColumnToContents(column);
}

void ProvisionWindow::announceRow(int row)
{
    // Item views tell assistive technology of new rows, not of a cell whose
    // text changed: the result is a row's news.
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(m_table);
    if (!table || !table->tableInterface())
        return;
    for (int column : {ResultColumn, ReasonColumn}) {
        QAccessibleInterface *cell = table->tableInterface()->cellAt(row, column);
        if (!cell)
            continue;
        QAccessibleEvent event(m_table, QAccessible::NameChanged);
        event.setChild(table->indexOfChild(cell));
        QAccessible::updateAccessibility(&event);
    }
}

QList<ProvisionRecord> ProvisionWindow::records() const
{
    QList<ProvisionRecord> done;
    for (const Row &r : m_rows) {
        if (r.record)
            done.append(*r.record);
    }
    return done;
}

QString ProvisionWindow::countText() const
{
    return m_count->text();
}

QString ProvisionWindow::reportStatus() const
{
    return m_reportStatus->text();
}

void ProvisionWindow::updateCount()
{
    QString text = tallyReaders(records()).text();
    // A write the history did not take cannot be undone: the run says so.
    int unsaved = 0;
    QString why;
    for (const ProvisionRecord &r : std::as_const(m_attempts)) {
        if (!r.historyError.isEmpty()) {
            ++unsaved;
            why = r.historyError;
        }
    }
    if (unsaved > 0)
        text += QStringLiteral(". The history could not take %1 (%2): %3 cannot be undone.")
                    .arg(unsaved == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(unsaved), why,
                         unsaved == 1 ? QStringLiteral("it") : QStringLiteral("they"));
    if (m_count->text() == text)
        return;
    m_count->setText(text);
    QAccessibleEvent event(m_count, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void ProvisionWindow::updateControls()
{
    bool waiting = false;
    bool failed = false;
    for (const Row &r : m_rows) {
        waiting = waiting || wantsWrite(r);
        failed = failed || failedAndHere(r);
    }
    m_provision->setEnabled(m_patch && waiting);
    m_retry->setEnabled(m_patch && failed);
    // The settings stay put while readers are being written with them.
    const bool idle = busy() == 0;
    for (QWidget *w : std::initializer_list<QWidget *>{m_fromFile, m_path, m_browse})
        w->setEnabled(idle);
    updateFormChoice();
    m_saveReport->setEnabled(!m_attempts.isEmpty());
    m_emptyHint->setVisible(m_rows.isEmpty());
    // A reader plugged in without settings would only be listed.
    m_emptyHint->setText(m_patch ? QStringLiteral("Plug in a reader: it is provisioned at once with the settings above.")
                                 : QStringLiteral("Choose the settings above, then plug in a reader: it is "
                                                  "provisioned at once with them."));
    // Heard when the table is reached by Tab, where a sighted user sees it.
    m_table->setAccessibleDescription(m_rows.isEmpty() ? m_emptyHint->text() : QString());
}

void ProvisionWindow::browse()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Settings File"), m_path->text(),
                                                      QStringLiteral("Settings (*.json);;All files (*)"));
    if (!path.isEmpty())
        useFile(path);
}

bool ProvisionWindow::saveReportTo(const QString &path, QString *error)
{
    const QByteArray lines =
        benchReport(benchReportHeader(m_settingsOrigin, m_settingsBytes, m_started), m_attempts,
                    QDateTime::currentDateTimeUtc());
    return SafeFile::replace(path, lines, error);
}

void ProvisionWindow::chooseAndSaveReport()
{
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Report"),
                                     defaultReportName(QDateTime::currentDateTime()),
                                     QStringLiteral("JSON Lines (*.jsonl);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!saveReportTo(path, &error)) {
        QMessageBox::warning(this, QStringLiteral("Save Report"),
                             QStringLiteral("The report could not be saved to %1: %2").arg(path, error));
        return;
    }
    m_reportStatus->setText(QStringLiteral("Report saved to %1.").arg(QDir::toNativeSeparators(path)));
    m_reportStatus->show();
}

void ProvisionWindow::closeEvent(QCloseEvent *event)
{
    // A reader half written is worse than a window that closes a moment
    // later: the readers in hand finish first.
    if (busy() > 0) {
        m_closeWhenIdle = true;
        m_count->setText(busy() == 1 ? QStringLiteral("Closing once the reader in hand is done.")
                                     : QStringLiteral("Closing once the %1 readers in hand are done.").arg(busy()));
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}
