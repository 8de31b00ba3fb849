#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velkon {

// The fixed lists of the session window, index 0 first. Indexes are what the
// configuration file stores, so their order must never change.
inline constexpr int kConnectorCount = 257;  // "None" and COM1..COM256
inline constexpr std::array<const char*, 16> kBaudRates = {
    "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",   "14400",
    "19200", "28800", "38400", "57600", "115200", "230400", "460800", "921600"};
// Parity texts are localized: None, Even, Odd, Mark, Space.
inline constexpr std::array<int, 5> kParityTextIds = {2205, 2207, 2206, 2208, 2209};
inline constexpr std::array<const char*, 4> kDataBits = {"5", "6", "7", "8"};
inline constexpr std::array<const char*, 3> kStopBits = {"1", "1.5", "2"};
// Flow control texts are localized: None, Xon/Xoff, Hardware, Opto-RS.
inline constexpr std::array<int, 4> kFlowControlTextIds = {2213, 2214, 2215, 2216};
inline constexpr std::array<const char*, 9> kBufferSizes = {
    "1024", "4096", "8192", "16384", "32768", "65536", "131072", "262144", "524288"};

// Every option of a session, in one record: the session window's
// selections and the options its dialogs edit. Indexes are -1 when no list
// entry is selected; check values are 0 or 1. Initial values are those of a
// new session window. Each field's configuration key is listed once, in
// SessionKeys.
struct SessionSettings {
    int Connector = 0;
    int BaudRate = 6;
    int Parity = 0;
    int Databits = 3;
    int Stopbits = 0;
    int FlowControl = 0;
    int BufferSize = 2;
    int BufferSerialData = 0;
    int CreateVirtualPort = 0;
    int UseUDP = 0;
    std::string LocalIP;
    std::string IPAddress;
    std::string PortNumber = "1000";
    int TCPOption = 0;  // 0 client, 1 server
    // 1 while the session is active, so that a saved session starts active.
    int AutoActivate = 0;
    std::int16_t AllowMultiConnect = 1;
    std::int16_t ServerSerialOptions = 0;
    std::int16_t ServerTCPOptions = 0;
    std::int16_t ClientOptions = 0;
    std::int16_t ConnectOnVirtualOpen = 1;
    // RFC 2217 on the network side: 0 off, 1 on.
    std::int16_t RemoteLineControl = 0;
    // Trace of the traffic: the file ("" = off), hexdump lines (1) or the raw
    // bytes (0), and the size in KiB at which the file is rotated.
    std::string TraceFile;
    std::int16_t TraceHex = 1;
    int TraceMaxSize = 10240;
    std::string UserPrompt;
    std::string UserPromptResponse;
    std::string PasswordPrompt;
    std::string PasswordPromptResponse;
    int WaitForCr = 0;
    std::string TimeoutValue = "150";
    // Peers a server serves (AllowedClients); empty: anyone.
    std::string AllowedClients;
    // TLS on TCP connections: 0 off, 1 on. PEM files; see TlsOptions.
    std::int16_t Tls = 0;
    std::string TlsCertificate;
    std::string TlsKey;
    std::string TlsCaFile;
};

// "COM3" for 3; "" for 0 or out of range.
std::string ConnectorName(int index);

// The list texts of a selection; "" when nothing is selected.
std::string BaudRateText(const SessionSettings& settings);
std::string DatabitsText(const SessionSettings& settings);
std::string StopbitsText(const SessionSettings& settings);
std::string BufferSizeText(const SessionSettings& settings);
// "9600,N,8,1": baud rate, parity letter, data bits and stop bits.
std::string SerialSettingsText(const SessionSettings& settings);

}  // namespace velkon
