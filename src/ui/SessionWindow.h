#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include "session/Session.h"
#include "session/TrafficRows.h"

class QCheckBox;
class QAbstractItemModel;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;

namespace velkon {

class ClientsDialog;
class StringTable;

// The session window: shows a session's settings and state and forwards the
// user's actions to it. All logic lives in Session.
class SessionWindow : public QWidget, public SessionObserver {
public:
    // connectorTip gives the tool tip of a connector list entry (the device
    // a COM number stands for).
    SessionWindow(Session& session, const StringTable& strings,
                  std::function<QString(int)> connectorTip = {}, QWidget* parent = nullptr);
    ~SessionWindow() override;

    Session& session() { return m_session; }
    // The session goes: no further updates.
    void Detach();
    void SessionChanged(SessionChange change) override;

    QGroupBox* m_serialGroup;
    QGroupBox* m_networkGroup;
    QComboBox* m_connectorBox;
    QComboBox* m_baudRateBox;
    QComboBox* m_parityBox;
    QComboBox* m_dataBitsBox;
    QComboBox* m_stopBitsBox;
    QComboBox* m_flowControlBox;
    QComboBox* m_bufferSizeBox;
    QLabel* m_connectorLabel;
    QLabel* m_baudRateLabel;
    QLabel* m_parityLabel;
    QLabel* m_dataBitsLabel;
    QLabel* m_stopBitsLabel;
    QLabel* m_flowControlLabel;
    QLabel* m_bufferSizeLabel;
    QCheckBox* m_virtualPortCheck;
    QCheckBox* m_bufferDataCheck;
    QCheckBox* m_waitForTimeoutCheck;
    QLabel* m_timeoutLabel;
    QLineEdit* m_timeoutEdit;
    QRadioButton* m_clientRadio;
    QRadioButton* m_serverRadio;
    QLabel* m_hostLabel;
    QLabel* m_portLabel;
    QLineEdit* m_remoteHostEdit;
    QComboBox* m_localIpBox;
    QLineEdit* m_portEdit;
    QCheckBox* m_udpCheck;
    QPushButton* m_loginButton;
    QPushButton* m_ioOptionsButton;
    QPushButton* m_activateButton;
    QPushButton* m_monitorButton;
    QPushButton* m_clientsButton;
    // Serial side first, then network side.
    QLabel* m_statusLines[2];
    QFrame* m_lamps[2];
    // Where an application opens the virtual port, and whether one has.
    QLabel* m_virtualPathLine;
    QToolButton* m_copyPathButton;
    QLabel* m_countersLine;

    // The clients view, opened on demand; the same one while it exists.
    ClientsDialog& clientsDialog();
    void onClientsClicked();
    void onCopyPathClicked();
    void RefreshCounters();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Build();
    QAbstractItemModel* ConnectorModel(bool virtualPorts);
    void Connect();
    void RefreshSettings();
    void RefreshStatus();
    void RefreshLamps();
    void RefreshCaption();
    void RefreshVirtualPort();
    QString VirtualPortPath();

    Session& m_session;
    const StringTable& m_strings;
    std::function<QString(int)> m_connectorTip;
    bool m_attached = true;
    bool m_refreshing = false;
    QTimer* m_countersTimer;
    QElapsedTimer m_clock;
    // Serial read, serial written, network received, network sent.
    TrafficRate m_rates[4];
    QPointer<ClientsDialog> m_clientsDialog;
};

}  // namespace velkon
