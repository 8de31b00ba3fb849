#include "AboutBox.h"

#include <QDesktopServices>
#include <QFile>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Localization.h"
#include "Prompts.h"
#include "SystemInfoDialog.h"
#include "Version.h"
#include "shell/StringTable.h"
#include "system/SupportInfo.h"

namespace velkon {

namespace {

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

QString Link(const QUrl& url, const QString& shown)
{
    return QString("<a href=\"%1\">%2</a>")
        .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), shown.toHtmlEscaped());
}

QLabel* LinkLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    label->setOpenExternalLinks(false);
    return label;
}

}  // namespace

QUrl AboutBox::reportUrl()
{
    const QString address = kReportAddress;
    return address.contains("://") ? QUrl(address) : QUrl("mailto:" + address);
}

AboutBox::AboutBox(const StringTable& strings, Prompts& prompts, QWidget* parent, OpenUrl open)
    : QDialog(parent), m_strings(strings), m_prompts(prompts), m_open(std::move(open))
{
    if (!m_open)
        m_open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

    SetTextId(this, 5057);
    auto* grid = new QGridLayout(this);

    m_iconLabel = new QLabel(this);
    m_iconLabel->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    grid->addWidget(m_iconLabel, 0, 0, 5, 1);

    m_titleLabel = new QLabel(this);
    SetTextId(m_titleLabel, 5058);
    m_versionLabel = new QLabel(this);
    m_versionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_descriptionLabel = new QLabel(this);
    m_descriptionLabel->setTextFormat(Qt::PlainText);
    m_descriptionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_reportLabel = LinkLabel(this);
    m_webLinkLabel = LinkLabel(this);
    grid->addWidget(m_titleLabel, 0, 1, 1, 2);
    grid->addWidget(m_versionLabel, 1, 1, 1, 2);
    grid->addWidget(m_descriptionLabel, 2, 1, 1, 2);
    grid->addWidget(m_reportLabel, 3, 1, 1, 2);
    grid->addWidget(m_webLinkLabel, 4, 1, 1, 2);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, 5, 0, 1, 3);

    m_disclaimerLabel = new QLabel(this);
    SetTextId(m_disclaimerLabel, 1102);
    m_disclaimerLabel->setWordWrap(true);
    m_disclaimerLabel->setMinimumWidth(320);
    grid->addWidget(m_disclaimerLabel, 6, 0, 2, 2);

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
    grid->addLayout(buttons, 6, 2, 2, 1);
    grid->setColumnStretch(1, 1);

    connect(m_okButton, &QPushButton::clicked, this, [this] { onOkClicked(); });
    connect(m_systemInfoButton, &QPushButton::clicked, this, [this] { onSystemInfoClicked(); });
    for (QLabel* label : {m_reportLabel, m_webLinkLabel}) {
        connect(label, &QLabel::linkActivated, this,
                [this](const QString& link) { onLinkActivated(link); });
    }

    LocalizeWindow(this, strings);

    m_iconLabel->setPixmap(ProgramIcon(parent ? parent : this));
    QFont titleFont = m_titleLabel->font();
    titleFont.setBold(true);
    titleFont.setPointSize(titleFont.pointSize() + 2);
    m_titleLabel->setFont(titleFont);

    m_versionLabel->setText(
        QString("%1  %2 %3").arg(kApplicationTitle, Tr(strings, 5133), QString(kVersionText)));
    const bool licensed = kLicense[0] != '\0';
    const QStringList description = {
        Tr(strings, 5170) + " " + kBuildDate,
        QString("Qt %1 (%2 %3)").arg(qVersion(), Tr(strings, 5171), QT_VERSION_STR),
        QString::fromStdString(RuntimeLibraries().openSslVersion),
        Tr(strings, 5060) + " " + kCopyrightHolder,
        Tr(strings, 5172) + " " + (licensed ? QString(kLicense) : Tr(strings, 5173)),
    };
    m_descriptionLabel->setText(description.join('\n'));
    m_reportLabel->setText(Tr(strings, 5174) + " " + Link(reportUrl(), kReportAddress));
    m_webLinkLabel->setText(Link(QUrl(kHomepage), kHomepage));
    m_webLinkLabel->setVisible(kHomepage[0] != '\0');
    // The warning states what holds while no license grants more.
    m_disclaimerLabel->setVisible(!licensed);
}

void AboutBox::onOkClicked()
{
    accept();
}

void AboutBox::onSystemInfoClicked()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string text = SupportInfo(m_strings).Text(RuntimeLibraries());
    QGuiApplication::restoreOverrideCursor();
    SystemInfoDialog dialog(QString::fromStdString(text), m_strings, this);
    m_prompts.Exec(dialog);
}

void AboutBox::onLinkActivated(const QString& link)
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_open(QUrl(link));
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace velkon
