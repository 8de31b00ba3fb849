// The trace block of both I/O options dialogs shows and stores the session's
// trace keys.

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include "IoOptionsDialogs.h"
#include "shell/StringTable.h"

namespace velkon::test {
namespace {

template <typename Dialog>
void EditTrace()
{
    SessionSettings settings;
    settings.TraceFile = "/var/lib/velkon/a.trace";
    settings.TraceHex = 0;
    settings.TraceMaxSize = 64;
    {
        Dialog dialog(settings, StringTable::English());
        TraceOptionsBox* box = dialog.m_traceBox;
        EXPECT_EQ(box->m_fileEdit->text(), "/var/lib/velkon/a.trace");
        EXPECT_FALSE(box->m_hexCheck->isChecked());
        EXPECT_EQ(box->m_maxSizeBox->value(), 64);
        box->m_fileEdit->setText("  /tmp/b.trace ");
        box->m_hexCheck->setChecked(true);
        box->m_maxSizeBox->setValue(2048);
        dialog.m_cancelButton->click();
    }
    EXPECT_EQ(settings.TraceFile, "/var/lib/velkon/a.trace");
    {
        Dialog dialog(settings, StringTable::English());
        dialog.m_traceBox->m_fileEdit->setText("  /tmp/b.trace ");
        dialog.m_traceBox->m_hexCheck->setChecked(true);
        dialog.m_traceBox->m_maxSizeBox->setValue(2048);
        dialog.m_okButton->click();
    }
    EXPECT_EQ(settings.TraceFile, "/tmp/b.trace");
    EXPECT_EQ(settings.TraceHex, 1);
    EXPECT_EQ(settings.TraceMaxSize, 2048);
}

TEST(TraceOptionsUi, BothIoOptionsDialogsEditTheTraceKeys)
{
    EditTrace<ServerOptionsDialog>();
    EditTrace<ClientOptionsDialog>();
}

}  // namespace
}  // namespace velkon::test
