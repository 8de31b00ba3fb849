#pragma once

#include <QDialog>

class QTableWidget;
class QTimer;

namespace velkon {

class Session;
class StringTable;

// The clients connected to a session now: address and port, since when,
// and the bytes each sent and took, refreshed every second while open.
class ClientsDialog : public QDialog {
public:
    static constexpr int kRefreshIntervalMs = 1000;

    ClientsDialog(Session& session, const StringTable& strings, QWidget* parent = nullptr);

    void Refresh();

    QTableWidget* m_table;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Session& m_session;
    QTimer* m_refreshTimer;
};

}  // namespace velkon
