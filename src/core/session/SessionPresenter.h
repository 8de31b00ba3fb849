#pragma once

#include <string>
#include <vector>

namespace velkon {

struct AppState;

enum class LampColour { Green, Red };

enum class SessionChange {
    Settings,  // a value, the enabled state or the layout of the controls
    Status,    // a status line
    Lamps,
    Caption,  // the window caption
};

// What the session window shows besides the settings.
struct SessionForm {
    std::string caption;
    std::string activateCaption;  // "Activate" or "De-Activate"
    std::string statusText[2];    // serial line, network line
    LampColour lamp[2] = {LampColour::Green, LampColour::Green};
    bool settingsEnabled = true;      // the controls locked while active
    bool serverOptionEnabled = true;  // server mode possible (an address exists)
    bool ipAddressVisible = true;     // client layout shown
    std::string addressLabel;         // address label
    std::string portLabel;            // port label
    std::vector<std::string> localIpItems;
};

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void SessionChanged(SessionChange change) = 0;
    // A failure of the running bridge went to the error log.
    virtual void FailureLogged(const std::string& description) { (void)description; }
};

// Status line numbers.
inline constexpr int kSerialLine = 0;
inline constexpr int kNetworkLine = 1;

// Text ids of the session window.
namespace text {
inline constexpr int kComStatus = 5090;
inline constexpr int kNetStatus = 5091;
inline constexpr int kActivate = 5087;
inline constexpr int kDeactivate = 5118;
inline constexpr int kNew = 5119;
inline constexpr int kRs232ToTcpIp = 5120;
inline constexpr int kOpen = 5096;
inline constexpr int kConnecting = 5097;
inline constexpr int kListening = 5098;
inline constexpr int kErrorDash = 5099;
inline constexpr int kClosed = 5100;
inline constexpr int kError = 5103;
inline constexpr int kConnected = 5109;
inline constexpr int kInvalidIp = 5088;
inline constexpr int kInvalidPort = 5089;
inline constexpr int kPortNotAvailable = 5095;
inline constexpr int kVirtualNotClosed = 5084;
inline constexpr int kVirtualClosed = 5085;
inline constexpr int kCannotCreateVirtual = 5092;
inline constexpr int kVirtualPort = 5093;
inline constexpr int kCreated = 5094;
inline constexpr int kPortRange = 5102;
inline constexpr int kRemoteHost = 5104;
inline constexpr int kRemotePort = 5105;
inline constexpr int kLocalIp = 5106;
inline constexpr int kLocalPort = 5107;
inline constexpr int kNone = 2205;
inline constexpr int kNotAnAllowedClient = 5191;
inline constexpr int kTlsNeedsTcp = 5167;
inline constexpr int kConnectedClients = 5309;
// The adapters' failure phrases ("port does not exist"), in this range.
inline constexpr int kFirstFailurePhrase = 5332;
inline constexpr int kLastFailurePhrase = 5347;
}  // namespace text

// The session window's model: captions, status lines, lamps and layout, and
// the observer that redraws them.
class SessionPresenter {
public:
    // Timer ticks a lamp stays red after the last activity.
    static constexpr int kLampTicks = 3;

    explicit SessionPresenter(const AppState& app);

    void setObserver(SessionObserver* observer) { m_observer = observer; }
    const SessionForm& form() const { return m_form; }
    std::string Text(int id) const;
    void Notify(SessionChange change);
    void FailureLogged(const std::string& description)
    {
        if (m_observer)
            m_observer->FailureLogged(description);
    }

    // "COM Status: " or "TCP/IP Status: ", a blank and the text.
    void SetStatus(int line, const std::string& text);
    // The text alone.
    void SetStatusRaw(int line, const std::string& text);
    // "Error - " and the description.
    void SetError(int line, const std::string& description);
    // description with a known failure phrase in the interface language.
    std::string LocalDescription(std::string description) const;
    void ResetStatusLines();
    void SetCaption(const std::string& firstWord);
    void SetActiveLook(bool active);
    void SetLocalAddresses(std::vector<std::string> items, bool serverPossible);
    void ShowMode(bool server);

    // Activity turns a lamp red; ticks turn both green again.
    void Activity(int lamp);
    void TickLamps();
    bool LampsLit() const;

private:
    const AppState& m_app;
    SessionObserver* m_observer = nullptr;
    SessionForm m_form;
    int m_lampTicks = 0;
};

}  // namespace velkon
