#include "session/SessionKeys.h"

#include <array>

namespace velkon {

namespace {

using S = SessionSettings;
constexpr int kLists = 0;

constexpr unsigned kIoEditors = kServerOptionsEditor | kClientOptionsEditor;

const std::array<SessionKey, 35> kKeys = {{
    {"Connector", &S::Connector, "0", KeyRule::ListIndex, kConnectorCount},
    {"BaudRate", &S::BaudRate, "0", KeyRule::ListIndex, static_cast<int>(kBaudRates.size())},
    {"Parity", &S::Parity, "0", KeyRule::ListIndex, static_cast<int>(kParityTextIds.size())},
    {"Databits", &S::Databits, "0", KeyRule::ListIndex, static_cast<int>(kDataBits.size())},
    {"Stopbits", &S::Stopbits, "0", KeyRule::ListIndex, static_cast<int>(kStopBits.size())},
    {"FlowControl", &S::FlowControl, "0", KeyRule::ListIndex,
     static_cast<int>(kFlowControlTextIds.size())},
    {"BufferSize", &S::BufferSize, "2", KeyRule::ListIndex, static_cast<int>(kBufferSizes.size())},
    {"CreateVirtualPort", &S::CreateVirtualPort, "0", KeyRule::Check},
    {"UseUDP", &S::UseUDP, "0", KeyRule::Check},
    {"BufferSerialData", &S::BufferSerialData, "0", KeyRule::Check},
    {"LocalIP", &S::LocalIP, ""},
    {"IPAddress", &S::IPAddress, ""},
    {"PortNumber", &S::PortNumber, ""},
    {"TCPOption", &S::TCPOption, "0", KeyRule::NonZeroIsOne},
    {"AutoActivate", &S::AutoActivate, "0"},
    {"WaitForCr", &S::WaitForCr, "0", KeyRule::Check},
    {"TimeoutValue", &S::TimeoutValue, "150", KeyRule::Number},
    {"AllowMultiConnect", &S::AllowMultiConnect, "1", KeyRule::Any, kLists, kServerOptionsEditor},
    {"ServerSerialOptions", &S::ServerSerialOptions, "0", KeyRule::Any, kLists,
     kServerOptionsEditor},
    {"ServerTCPOptions", &S::ServerTCPOptions, "0", KeyRule::Any, kLists, kServerOptionsEditor},
    {"ClientOptions", &S::ClientOptions, "0", KeyRule::Any, kLists, kClientOptionsEditor},
    {"ConnectOnVirtualOpen", &S::ConnectOnVirtualOpen, "1", KeyRule::Any, kLists,
     kClientOptionsEditor},
    {"UserPrompt", &S::UserPrompt, "Username:", KeyRule::Any, kLists, kLoginEditor},
    {"UserPromptResponse", &S::UserPromptResponse, "", KeyRule::Any, kLists, kLoginEditor, true},
    {"PasswordPrompt", &S::PasswordPrompt, "Password:", KeyRule::Any, kLists, kLoginEditor},
    {"PasswordPromptResponse", &S::PasswordPromptResponse, "", KeyRule::Any, kLists, kLoginEditor,
     true},
    {"RemoteLineControl", &S::RemoteLineControl, "0", KeyRule::OneIsOn, kLists, kIoEditors},
    {"TraceFile", &S::TraceFile, "", KeyRule::Any, kLists, kIoEditors},
    {"TraceHex", &S::TraceHex, "1", KeyRule::OneIsOn, kLists, kIoEditors},
    {"TraceMaxSize", &S::TraceMaxSize, "10240", KeyRule::Any, kLists, kIoEditors},
    {"AllowedClients", &S::AllowedClients, "", KeyRule::Any, kLists, kServerOptionsEditor},
    {"Tls", &S::Tls, "0", KeyRule::OneIsOn, kLists, kIoEditors},
    {"TlsCertificate", &S::TlsCertificate, "", KeyRule::Any, kLists, kIoEditors},
    {"TlsKey", &S::TlsKey, "", KeyRule::Any, kLists, kIoEditors},
    {"TlsCaFile", &S::TlsCaFile, "", KeyRule::Any, kLists, kIoEditors},
}};

}  // namespace

bool KeyValue(const SessionKey& key, int read, int& value)
{
    switch (key.rule) {
        case KeyRule::ListIndex:
            if (read < -1 || read >= key.listSize)
                return false;
            break;
        case KeyRule::Check:
            if (read != 0 && read != 1)
                return false;
            break;
        case KeyRule::NonZeroIsOne:
            read = read == 0 ? 0 : 1;
            break;
        case KeyRule::OneIsOn:
            read = read == 1 ? 1 : 0;
            break;
        case KeyRule::Any:
        case KeyRule::Number:
            break;
    }
    value = read;
    return true;
}

std::span<const SessionKey> SessionKeys()
{
    return kKeys;
}

bool HoldsSecret(const SessionSettings& settings)
{
    for (const SessionKey& key : kKeys) {
        if (!key.secret)
            continue;
        if (const auto* text = std::get_if<std::string S::*>(&key.field);
            text && !(settings.**text).empty()) {
            return true;
        }
    }
    return false;
}

void CopyEditedKeys(unsigned editor, const SessionSettings& from, SessionSettings& to)
{
    for (const SessionKey& key : kKeys) {
        if ((key.editors & editor) == 0)
            continue;
        std::visit([&](auto field) { to.*field = from.*field; }, key.field);
    }
}

}  // namespace velkon
