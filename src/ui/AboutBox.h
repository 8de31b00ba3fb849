#pragma once

#include <functional>

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUrl>

class QLabel;
class QPushButton;

namespace velkon {

class Prompts;
class StringTable;

// The about box: name, purpose and version of the program, the maker's
// notice and web address, and a button that starts a system information
// program.
class AboutBox : public QDialog {
public:
    // Full path of an installed program by name, empty when not on the PATH.
    using FindProgram = std::function<QString(const QString& name)>;
    // Starts a program without waiting for it; false when it did not start.
    using StartProgram = std::function<bool(const QString& path)>;
    // Asks the desktop to open an address; false when it could not.
    using OpenUrl = std::function<bool(const QUrl& url)>;

    static constexpr const char* kApplicationTitle = "Velkon";
    static constexpr const char* kMakerName = "Ulmaro";
    static constexpr const char* kMakerUrl = "https://www.example.com/ulmaro/velkon";
    static constexpr int kFirstYear = 2024;

    // The system information programs tried in this order.
    static QStringList systemInfoPrograms();

    // Empty functions stand for the real ones: the PATH lookup, a detached
    // start, and the desktop's default browser.
    AboutBox(const StringTable& strings, Prompts& prompts, QWidget* parent = nullptr,
             FindProgram find = {}, StartProgram start = {}, OpenUrl open = {});

    void onOkClicked();
    void onSystemInfoClicked();
    void onWebLinkActivated();
    // Starts the first system information program found, or says that none
    // is available.
    void startSystemInfo();

    QLabel* m_iconLabel;
    QLabel* m_titleLabel;
    QLabel* m_versionLabel;
    QLabel* m_descriptionLabel;
    QLabel* m_disclaimerLabel;
    QLabel* m_webLinkLabel;
    QPushButton* m_okButton;
    QPushButton* m_systemInfoButton;

private:
    const StringTable& m_strings;
    Prompts& m_prompts;
    FindProgram m_find;
    StartProgram m_start;
    OpenUrl m_open;
};

}  // namespace velkon
