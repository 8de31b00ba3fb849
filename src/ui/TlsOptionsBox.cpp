#include "TlsOptionsBox.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Localization.h"
#include "Prompts.h"

namespace velkon {

TlsOptionsBox::TlsOptionsBox(const SessionSettings& settings, const StringTable& strings,
                             QWidget* parent)
    : QGroupBox(parent), m_strings(strings)
{
    setObjectName("tlsGroup");
    SetTextId(this, 5161);
    auto* grid = new QGridLayout(this);
    m_enabledCheck = new QCheckBox(this);
    m_enabledCheck->setObjectName("tlsCheck");
    SetTextId(m_enabledCheck, 5162);
    m_enabledCheck->setChecked(settings.Tls == 1);
    grid->addWidget(m_enabledCheck, 0, 0, 1, 3);
    m_certificateEdit = AddFileRow(5163, settings.TlsCertificate, "tlsCertificateEdit");
    m_keyEdit = AddFileRow(5164, settings.TlsKey, "tlsKeyEdit");
    m_caEdit = AddFileRow(5165, settings.TlsCaFile, "tlsCaEdit");
}

QLineEdit* TlsOptionsBox::AddFileRow(int labelId, const std::string& value, const QString& name)
{
    auto* grid = static_cast<QGridLayout*>(layout());
    const int row = grid->rowCount();
    auto* label = new QLabel(this);
    SetTextId(label, labelId);
    auto* edit = new QLineEdit(QString::fromStdString(value), this);
    edit->setObjectName(name);
    edit->setMinimumWidth(240);
    label->setBuddy(edit);
    auto* browse = new QPushButton(this);
    SetTextId(browse, 5035);
    browse->setAutoDefault(false);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(browse, row, 2);
    connect(browse, &QPushButton::clicked, this, [this, edit] {
        const QString chosen = QFileDialog::getOpenFileName(this, QString(), edit->text(),
                                                            QtFilter(Tr(m_strings, 5166)));
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    return edit;
}

void TlsOptionsBox::Store(SessionSettings& settings) const
{
    settings.Tls = m_enabledCheck->isChecked() ? 1 : 0;
    settings.TlsCertificate = m_certificateEdit->text().trimmed().toStdString();
    settings.TlsKey = m_keyEdit->text().trimmed().toStdString();
    settings.TlsCaFile = m_caEdit->text().trimmed().toStdString();
}

}  // namespace velkon
