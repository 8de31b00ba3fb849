#include "SystemInfoDialog.h"

#include <openssl/crypto.h>

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Localization.h"

namespace velkon {

SupportInfo::Libraries RuntimeLibraries()
{
    return {QGuiApplication::platformName().toStdString(), OpenSSL_version(OPENSSL_VERSION)};
}

SystemInfoDialog::SystemInfoDialog(const QString& text, const StringTable& strings, QWidget* parent)
    : QDialog(parent)
{
    SetTextId(this, 5175);
    auto* layout = new QVBoxLayout(this);

    m_textView = new QPlainTextEdit(this);
    m_textView->setReadOnly(true);
    m_textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textView->setPlainText(text);
    layout->addWidget(m_textView);

    m_copiedLabel = new QLabel(this);
    SetTextId(m_copiedLabel, 5185);
    m_copyButton = new QPushButton(this);
    SetTextId(m_copyButton, 5176);
    m_closeButton = new QPushButton(this);
    SetTextId(m_closeButton, 2101);
    m_closeButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_copiedLabel);
    buttons->addStretch();
    buttons->addWidget(m_copyButton);
    buttons->addWidget(m_closeButton);
    layout->addLayout(buttons);

    connect(m_copyButton, &QPushButton::clicked, this, [this] { onCopyClicked(); });
    connect(m_closeButton, &QPushButton::clicked, this, [this] { onCloseClicked(); });

    LocalizeWindow(this, strings);
    m_copiedLabel->hide();
    // Fixed width keeps the device list in columns; set after the interface
    // font, which would replace it.
    m_textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics metrics(m_textView->font());
    resize(metrics.horizontalAdvance(QString(90, 'x')), metrics.lineSpacing() * 28);
}

void SystemInfoDialog::onCopyClicked()
{
    QGuiApplication::clipboard()->setText(m_textView->toPlainText());
    m_copiedLabel->show();
}

void SystemInfoDialog::onCloseClicked()
{
    accept();
}

}  // namespace velkon
