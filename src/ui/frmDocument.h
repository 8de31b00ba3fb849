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
class frmDocument : public QWidget, public SessionObserver {
public:
    // connectorTip gives the tool tip of a connector list entry (the device
    // a COM number stands for).
    frmDocument(Session& session, const StringTable& strings,
                std::function<QString(int)> connectorTip = {}, QWidget* parent = nullptr);
    ~frmDocument() override;

    Session& session() { return m_session; }
    // The session goes: no further updates.
    void Detach();
    void SessionChanged(SessionChange change) override;

    QGroupBox* Frame1;
    QGroupBox* Frame2;
    QComboBox* Combo2;
    QComboBox* Combo1[6];
    QLabel* Label1[7];
    QCheckBox* chkVPort;
    QCheckBox* BufferSerData;
    QCheckBox* WaitForCr;
    QLabel* Label4;
    QLineEdit* txtTimeoutValue;
    QRadioButton* TCPOption[2];
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* IPAddress;
    QComboBox* LocalIP;
    QLineEdit* PortNumber;
    QCheckBox* chkUDP;
    QPushButton* btnLogin;
    QPushButton* Command2;
    QPushButton* Command1;
    QLabel* StatusBar1[2];
    QFrame* Shape1[2];

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
