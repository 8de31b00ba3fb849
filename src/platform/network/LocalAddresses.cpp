#include "network/LocalAddresses.h"

#include <algorithm>

#include <QHostAddress>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>

namespace velkon {

std::vector<std::string> ListLocalIPv4Addresses()
{
    std::vector<std::string> external;
    std::vector<std::string> loopback;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        if (!iface.flags().testFlag(QNetworkInterface::IsUp)) {
            continue;
        }
        const bool isLoopbackInterface = iface.flags().testFlag(QNetworkInterface::IsLoopBack);
        const auto entries = iface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() != QAbstractSocket::IPv4Protocol) {
                continue;
            }
            std::string text = address.toString().toStdString();
            auto& target = (isLoopbackInterface || address.isLoopback()) ? loopback : external;
            if (std::find(target.begin(), target.end(), text) == target.end()) {
                target.push_back(std::move(text));
            }
        }
    }
    if (!external.empty()) {
        return external;
    }
    // Only loopback: the conventional address, whatever else the interface carries.
    if (!loopback.empty()) {
        return {"127.0.0.1"};
    }
    return {};
}

std::vector<std::string> ListBindableAddresses()
{
    std::vector<std::string> v4;
    std::vector<std::string> v6;
    bool loopback4 = false;
    bool loopback6 = false;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        if (!iface.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        const auto entries = iface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            const QHostAddress address = entry.ip();
            const bool is4 = address.protocol() == QAbstractSocket::IPv4Protocol;
            if (address.isLoopback()) {
                (is4 ? loopback4 : loopback6) = true;
                continue;
            }
            if (!is4 && (address.protocol() != QAbstractSocket::IPv6Protocol ||
                         address.isLinkLocal() || !address.scopeId().isEmpty()))
                continue;
            auto& target = is4 ? v4 : v6;
            std::string text = address.toString().toStdString();
            if (std::find(target.begin(), target.end(), text) == target.end())
                target.push_back(std::move(text));
        }
    }
    std::vector<std::string> all = std::move(v4);
    all.insert(all.end(), v6.begin(), v6.end());
    // Loopback is always there for IPv4; ::1 only where the system has it.
    (void)loopback4;
    all.push_back("127.0.0.1");
    if (loopback6)
        all.push_back("::1");
    return all;
}

std::string FirstLocalIPv4Address()
{
    const auto addresses = ListLocalIPv4Addresses();
    return addresses.empty() ? std::string() : addresses.front();
}

}  // namespace velkon
