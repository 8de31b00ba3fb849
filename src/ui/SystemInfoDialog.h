#pragma once

#include <QDialog>
#include <QString>

#include "system/SupportInfo.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace velkon {

class StringTable;

// The libraries the program runs with that only the windows can name: the
// Qt platform plugin and the OpenSSL build.
SupportInfo::Libraries RuntimeLibraries();

// Shows what a support request needs (see SupportInfo) and copies it to the
// clipboard in one go.
class SystemInfoDialog : public QDialog {
public:
    SystemInfoDialog(const QString& text, const StringTable& strings, QWidget* parent = nullptr);

    void onCopyClicked();
    void onCloseClicked();

    QPlainTextEdit* m_textView;
    QLabel* m_copiedLabel;
    QPushButton* m_copyButton;
    QPushButton* m_closeButton;
};

}  // namespace velkon
