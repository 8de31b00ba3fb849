#pragma once

#include <functional>

#include <QWidget>

#include "session/Session.h"

class QCheckBox;
class QAbstractItemModel;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace velkon {

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
    // Serial side first, then network side.
    QLabel* m_statusLines[2];
    QFrame* m_lamps[2];

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    QAbstractItemModel* ConnectorModel();
    void Connect();
    void RefreshSettings();
    void RefreshStatus();
    void RefreshLamps();
    void RefreshCaption();

    Session& m_session;
    const StringTable& m_strings;
    std::function<QString(int)> m_connectorTip;
    bool m_attached = true;
    bool m_refreshing = false;
};

}  // namespace velkon
