#pragma once

#include <QGroupBox>

#include "session/SessionSettings.h"

class QCheckBox;
class QLineEdit;

namespace velkon {

class StringTable;

// The TLS part of the server and client I/O options: the on/off check box
// and the certificate, key and authority files, each with a browse button.
class TlsOptionsBox : public QGroupBox {
public:
    TlsOptionsBox(const SessionSettings& settings, const StringTable& strings, QWidget* parent);
    // Writes the box's fields back.
    void Store(SessionSettings& settings) const;

    QCheckBox* m_enabledCheck;
    QLineEdit* m_certificateEdit;
    QLineEdit* m_keyEdit;
    QLineEdit* m_caEdit;

private:
    QLineEdit* AddFileRow(int labelId, const std::string& value, const QString& name);

    const StringTable& m_strings;
};

}  // namespace velkon
