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

std::string FirstLocalIPv4Address()
{
    const auto addresses = ListLocalIPv4Addresses();
    return addresses.empty() ? std::string() : addresses.front();
}

}  // namespace velkon
