#include "app/historydialog.h"

#include "app/screenfit.h"
#include "provision/history.h"
#include "settings/settingsfile.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The settings whose values the write changed, named as the form labels them.
QString changedFields(const ProvisionRecord &r)
{
    if (!r.written)
        return QStringLiteral("nothing written");
    QStringList names;
    const QJsonObject before = r.before.value_or(QJsonObject());
    for (auto it = r.written->begin(); it != r.written->end(); ++it) {
        if (it.key() != QLatin1String("firmware") && before.value(it.key()) != it.value())
            names << settingLabel(it.key());
    }
    return names.isEmpty() ? QStringLiteral("none") : names.join(QStringLiteral(", "));
}

QString readerText(const ReaderIdentity &reader)
{
    if (!reader.byPlace())
        return reader.id;
    return QStringLiteral("%1 (%2)").arg(reader.id, reader.basis == ReaderIdentity::Basis::SerialPort
                                                        ? QStringLiteral("serial port")
                                                        : QStringLiteral("USB port, no serial number"));
}

} // namespace

HistoryDialog::HistoryDialog(const History &history, std::optional<ReaderIdentity> reader, QWidget *parent)
    : QDialog(parent)
    , m_history(history)
    , m_reader(std::move(reader))
{
    setWindowTitle(QStringLiteral("History"));
    setObjectName(QStringLiteral("historyDialog"));
    auto *layout = new QVBoxLayout(this);

    m_thisReader = new QCheckBox(m_reader ? QStringLiteral("Only the connected &reader (%1)").arg(m_reader->id)
                                          : QStringLiteral("Only the connected &reader (none is connected)"),
                                 this);
    m_thisReader->setObjectName(QStringLiteral("onlyThisReader"));
    m_thisReader->setChecked(m_reader.has_value());
    m_thisReader->setEnabled(m_reader.has_value());
    layout->addWidget(m_thisReader);

    auto *entriesLabel = new QLabel(QStringLiteral("&Entries, newest first:"), this);
    m_table = new QTableWidget(0, 4, this);
    m_table->setObjectName(QStringLiteral("historyTable"));
    m_table->setAccessibleName(QStringLiteral("Entries"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Reader"), QStringLiteral("Result"),
                                        QStringLiteral("Settings changed")});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    // Tab leaves the table for the choices below; the arrows move inside it.
    m_table->setTabKeyNavigation(false);
    entriesLabel->setBuddy(m_table);
    layout->addWidget(entriesLabel);
    m_empty = new QLabel(this);
    m_empty->setObjectName(QStringLiteral("historyEmpty"));
    layout->addWidget(m_empty);
    layout->addWidget(m_table, 1);

    auto *which = new QHBoxLayout;
    auto *whichLabel = new QLabel(QStringLiteral("Settings to load:"), this);
    m_before = new QRadioButton(QStringLiteral("&Before the write"), this);
    m_before->setObjectName(QStringLiteral("loadBefore"));
    m_before->setChecked(true);
    m_written = new QRadioButton(QStringLiteral("As &written"), this);
    m_written->setObjectName(QStringLiteral("loadWritten"));
    which->addWidget(whichLabel);
    which->addWidget(m_before);
    which->addWidget(m_written);
    which->addStretch(1);
    layout->addLayout(which);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_load = buttons->addButton(QStringLiteral("&Load into Form"), QDialogButtonBox::AcceptRole);
    m_load->setObjectName(QStringLiteral("loadIntoForm"));
    m_load->setDefault(true);
    layout->addWidget(buttons);

    connect(m_thisReader, &QCheckBox::toggled, this, &HistoryDialog::refill);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &HistoryDialog::updateButtons);
    connect(m_before, &QRadioButton::toggled, this, &HistoryDialog::updateButtons);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &HistoryDialog::requestLoad);
    connect(m_load, &QPushButton::clicked, this, &HistoryDialog::requestLoad);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    refill();
    ScreenFit::place(this, QSize(720, 420));
}

void HistoryDialog::refill()
{
    const History::Listing listing = m_history.read();
    m_damaged = listing.damagedLines;
    m_shown.clear();
    for (const ProvisionRecord &r : listing.entries) {
        if (!m_thisReader->isChecked() || !m_reader || r.isOf(*m_reader))
            m_shown.append(r);
    }
    std::reverse(m_shown.begin(), m_shown.end());

    m_table->setRowCount(int(m_shown.size()));
    for (int row = 0; row < m_shown.size(); ++row) {
        const ProvisionRecord &r = m_shown.at(row);
        const QStringList cells = {r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                   readerText(r.reader),
                                   r.undoes.isEmpty() ? resultText(r.result)
                                                      : QStringLiteral("%1 (undo)").arg(resultText(r.result)),
                                   changedFields(r)};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            item->setToolTip(column == 2 && !r.reason.isEmpty() ? r.reason : cells.at(column));
            m_table->setItem(row, column, item);
        }
    }
    m_table->resizeColumnsToContents();
    // An empty table alone looks like one that failed to load.
    m_empty->setText(listing.entries.isEmpty() ? QStringLiteral("No writes recorded yet.")
                                               : QStringLiteral("No writes to the connected reader recorded yet."));
    m_empty->setVisible(m_shown.isEmpty());
    if (!m_shown.isEmpty())
        selectEntry(0);
    updateButtons();
}

void HistoryDialog::selectEntry(int row)
{
    m_table->selectRow(row);
    m_table->setCurrentCell(row, 0);
}

void HistoryDialog::updateButtons()
{
    const int row = m_table->currentRow();
    const bool selected = row >= 0 && row < m_shown.size() && !m_table->selectedItems().isEmpty();
    m_before->setEnabled(selected && m_shown.at(row).before);
    m_written->setEnabled(selected && m_shown.at(row).written);
    const bool has = selected && (m_before->isChecked() ? m_shown.at(row).before : m_shown.at(row).written);
    m_load->setEnabled(has);
}

void HistoryDialog::requestLoad()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= m_shown.size())
        return;
    const ProvisionRecord &r = m_shown.at(row);
    const std::optional<QJsonObject> &settings = m_before->isChecked() ? r.before : r.written;
    if (!settings)
        return;
    const QString when = r.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    emit loadRequested(*settings, m_before->isChecked() ? QStringLiteral("from before the write of %1").arg(when)
                                                        : QStringLiteral("written at %1").arg(when));
    accept();
}
