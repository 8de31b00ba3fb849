#include "frmAbout.h"

#include <QDate>
#include <QDesktopServices>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "LoadResource.h"
#include "Prompts.h"
#include "Version.h"
#include "shell/StringTable.h"

namespace velkon {

namespace {

// The maker's contact lines (fictional): a caption from the string table, or
// none, and the contact itself.
struct ContactLine {
    int captionId;
    const char* contact;
};
constexpr ContactLine kContactLines[] = {
    {0, "1 Example Way, Sampletown, ST 00000"},
    {5148, "+1 555-0100"},
    {5149, "+1 555-0199"},
    {5150, "velkon@example.com"},
};

QPixmap ProgramIcon(const QWidget* window)
{
    constexpr int kSide = 48;
    if (QFile::exists(":/velkon.png")) {
        const QPixmap pixmap = QIcon(":/velkon.png").pixmap(kSide, kSide);
        if (!pixmap.isNull())
            return pixmap;
    }
    return window->windowIcon().pixmap(kSide, kSide);
}

}  // namespace

QStringList frmAbout::SysInfoPrograms()
{
    return {"hardinfo",    "hardinfo2", "gnome-system-monitor",
            "kinfocenter", "ksysguard", "xfce4-taskmanager"};
}

frmAbout::frmAbout(const StringTable& strings, Prompts& prompts, QWidget* parent, FindProgram find,
                   StartProgram start, OpenUrl open)
    : QDialog(parent),
      m_strings(strings),
      m_prompts(prompts),
      m_find(std::move(find)),
      m_start(std::move(start)),
      m_open(std::move(open))
{
    if (!m_find)
        m_find = [](const QString& name) { return QStandardPaths::findExecutable(name); };
    if (!m_start)
        m_start = [](const QString& path) { return QProcess::startDetached(path, {}); };
    if (!m_open)
        m_open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    SetTextId(this, 5057);
    auto* grid = new QGridLayout(this);

    picIcon = new QLabel(this);
    picIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    grid->addWidget(picIcon, 0, 0, 4, 1);

    lblTitle = new QLabel(this);
    SetTextId(lblTitle, 5058);
    lblVersion = new QLabel(this);
    lblDescription = new QLabel(this);
    lblDescription->setTextFormat(Qt::PlainText);
    lblDescription->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label4 = new QLabel(this);
    Label4->setTextFormat(Qt::RichText);
    Label4->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    Label4->setOpenExternalLinks(false);
    Label4->setText(QString("<a href=\"%1\">%1</a>").arg(kMakerUrl));
    grid->addWidget(lblTitle, 0, 1, 1, 2);
    grid->addWidget(lblVersion, 1, 1, 1, 2);
    grid->addWidget(lblDescription, 2, 1, 1, 2);
    grid->addWidget(Label4, 3, 1, 1, 2);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, 4, 0, 1, 3);

    lblDisclaimer = new QLabel(this);
    SetTextId(lblDisclaimer, 1102);
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setMinimumWidth(320);
    grid->addWidget(lblDisclaimer, 5, 0, 2, 2);

    cmdOK = new QPushButton(this);
    SetTextId(cmdOK, 1207);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(this);
    SetTextId(cmdSysInfo, 5059);
    cmdSysInfo->setAutoDefault(false);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    buttons->addStretch();
    grid->addLayout(buttons, 5, 2, 2, 1);
    grid->setColumnStretch(1, 1);

    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { cmdSysInfo_Click(); });
    connect(Label4, &QLabel::linkActivated, this, [this](const QString&) { Label4_Click(); });

    LocalizeWindow(this, strings);

    picIcon->setPixmap(ProgramIcon(parent ? parent : this));
    lblTitle->setText(Tr(strings, 5058));
    QFont titleFont = lblTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSize(titleFont.pointSize() + 2);
    lblTitle->setFont(titleFont);

    const QString year = QString("%1").arg(QDate::currentDate().year(), 4, 10, QChar('0'));
    QStringList description;
    description << Tr(strings, 5060) + " " + QString::number(kFirstYear) + "-" + year + " " +
                       kMakerName;
    for (const ContactLine& line : kContactLines) {
        description << (line.captionId ? Tr(strings, line.captionId) + " " : QString()) +
                           line.contact;
    }
    lblDescription->setText(description.join('\n'));

    lblVersion->setText(QString("%1  %2 %3.%4.%5")
                            .arg(kApplicationTitle)
                            .arg(Tr(strings, 5133))
                            .arg(kVersionMajor)
                            .arg(kVersionMinor)
                            .arg(kVersionRevision));
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::Label4_Click()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // A failure is not reported.
    m_open(QUrl(kMakerUrl));
    QGuiApplication::restoreOverrideCursor();
}

void frmAbout::StartSysInfo()
{
    for (const QString& name : SysInfoPrograms()) {
        const QString path = m_find(name);
        if (path.isEmpty())
            continue;
        if (m_start(path))
            return;
        break;
    }
    m_prompts.Message(this, Tr(m_strings, 5073), kApplicationTitle);
}

}  // namespace velkon
