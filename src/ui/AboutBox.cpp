#include "AboutBox.h"

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

#include "Localization.h"
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

QStringList AboutBox::systemInfoPrograms()
{
    return {"hardinfo",    "hardinfo2", "gnome-system-monitor",
            "kinfocenter", "ksysguard", "xfce4-taskmanager"};
}

AboutBox::AboutBox(const StringTable& strings, Prompts& prompts, QWidget* parent, FindProgram find,
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

    m_iconLabel = new QLabel(this);
    m_iconLabel->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    grid->addWidget(m_iconLabel, 0, 0, 4, 1);

    m_titleLabel = new QLabel(this);
    SetTextId(m_titleLabel, 5058);
    m_versionLabel = new QLabel(this);
    m_descriptionLabel = new QLabel(this);
    m_descriptionLabel->setTextFormat(Qt::PlainText);
    m_descriptionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_webLinkLabel = new QLabel(this);
    m_webLinkLabel->setTextFormat(Qt::RichText);
    m_webLinkLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                            Qt::LinksAccessibleByKeyboard);
    m_webLinkLabel->setOpenExternalLinks(false);
    m_webLinkLabel->setText(QString("<a href=\"%1\">%1</a>").arg(kMakerUrl));
    grid->addWidget(m_titleLabel, 0, 1, 1, 2);
    grid->addWidget(m_versionLabel, 1, 1, 1, 2);
    grid->addWidget(m_descriptionLabel, 2, 1, 1, 2);
    grid->addWidget(m_webLinkLabel, 3, 1, 1, 2);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, 4, 0, 1, 3);

    m_disclaimerLabel = new QLabel(this);
    SetTextId(m_disclaimerLabel, 1102);
    m_disclaimerLabel->setWordWrap(true);
    m_disclaimerLabel->setMinimumWidth(320);
    grid->addWidget(m_disclaimerLabel, 5, 0, 2, 2);

    m_okButton = new QPushButton(this);
    SetTextId(m_okButton, 1207);
    m_okButton->setDefault(true);
    m_systemInfoButton = new QPushButton(this);
    SetTextId(m_systemInfoButton, 5059);
    m_systemInfoButton->setAutoDefault(false);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_okButton);
    buttons->addWidget(m_systemInfoButton);
    buttons->addStretch();
    grid->addLayout(buttons, 5, 2, 2, 1);
    grid->setColumnStretch(1, 1);

    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_systemInfoButton, &QPushButton::clicked, this, [this] { onSystemInfoClicked(); });
    connect(m_webLinkLabel, &QLabel::linkActivated, this,
            [this](const QString&) { onWebLinkActivated(); });

    LocalizeWindow(this, strings);

    m_iconLabel->setPixmap(ProgramIcon(parent ? parent : this));
    m_titleLabel->setText(Tr(strings, 5058));
    QFont titleFont = m_titleLabel->font();
    titleFont.setBold(true);
    titleFont.setPointSize(titleFont.pointSize() + 2);
    m_titleLabel->setFont(titleFont);

    const QString year = QString("%1").arg(QDate::currentDate().year(), 4, 10, QChar('0'));
    QStringList description;
    description << Tr(strings, 5060) + " " + QString::number(kFirstYear) + "-" + year + " " +
                       kMakerName;
    for (const ContactLine& line : kContactLines) {
        description << (line.captionId ? Tr(strings, line.captionId) + " " : QString()) +
                           line.contact;
    }
    m_descriptionLabel->setText(description.join('\n'));

    m_versionLabel->setText(QString("%1  %2 %3.%4.%5")
                                .arg(kApplicationTitle)
                                .arg(Tr(strings, 5133))
                                .arg(kVersionMajor)
                                .arg(kVersionMinor)
                                .arg(kVersionRevision));
}

void AboutBox::onOkClicked()
{
    accept();
}

void AboutBox::onSystemInfoClicked()
{
    startSystemInfo();
}

void AboutBox::onWebLinkActivated()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // A failure is not reported.
    m_open(QUrl(kMakerUrl));
    QGuiApplication::restoreOverrideCursor();
}

void AboutBox::startSystemInfo()
{
    for (const QString& name : systemInfoPrograms()) {
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
