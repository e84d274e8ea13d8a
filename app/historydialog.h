#pragma once

#include "provision/readerrecord.h"

#include <QDialog>
#include <QJsonObject>
#include <QList>

#include <optional>

class History;
class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

// The history's entries, newest first: of the connected reader or of all.
// The dialog only shows; what the form gets is the main window's to do.
class HistoryDialog : public QDialog
{
    Q_OBJECT

public:
    // reader: the connected reader's identity, nothing when none is.
    HistoryDialog(const History &history, std::optional<ReaderIdentity> reader, QWidget *parent = nullptr);

    // The entries shown, newest first.
    QList<ProvisionRecord> shown() const { return m_shown; }
    // Lines of the file that were skipped as damaged at the last listing.
    int damagedLines() const { return m_damaged; }
    void selectEntry(int row);

signals:
    // "Load into Form" with the chosen entry's settings (as a settings file
    // holds them), and where they come from in words for the status bar.
    void loadRequested(const QJsonObject &settings, const QString &origin);

private:
    void refill();
    void updateButtons();
    void requestLoad();

    const History &m_history;
    std::optional<ReaderIdentity> m_reader;
    QList<ProvisionRecord> m_shown;
    int m_damaged = 0;

    QCheckBox *m_thisReader = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_empty = nullptr; // says why the table is empty
    QRadioButton *m_before = nullptr;
    QRadioButton *m_written = nullptr;
    QPushButton *m_load = nullptr;
};
