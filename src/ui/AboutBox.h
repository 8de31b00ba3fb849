#pragma once

#include <functional>

#include <QDialog>
#include <QString>
#include <QUrl>

class QLabel;
class QPushButton;

namespace velkon {

class Prompts;
class StringTable;

// The about box: what the program is, its version and build, the libraries
// it runs with, its copyright and license, and where to report problems.
// System Info... shows the details a support request needs.
class AboutBox : public QDialog {
public:
    // Asks the desktop to open an address; false when it could not.
    using OpenUrl = std::function<bool(const QUrl& url)>;

    static constexpr const char* kApplicationTitle = "Velkon";

    // The address the report link opens: a web address as it is, an e-mail
    // address as mailto:.
    static QUrl reportUrl();

    // An empty open stands for the desktop's default handler.
    AboutBox(const StringTable& strings, Prompts& prompts, QWidget* parent = nullptr,
             OpenUrl open = {});

    void onOkClicked();
    void onSystemInfoClicked();
    // The report address and the web page; a failure is not reported.
    void onLinkActivated(const QString& link);

    QLabel* m_iconLabel;
    QLabel* m_titleLabel;
    QLabel* m_versionLabel;
    QLabel* m_descriptionLabel;
    QLabel* m_reportLabel;
    QLabel* m_webLinkLabel;
    QLabel* m_disclaimerLabel;
    QPushButton* m_okButton;
    QPushButton* m_systemInfoButton;

private:
    const StringTable& m_strings;
    Prompts& m_prompts;
    OpenUrl m_open;
};

}  // namespace velkon
