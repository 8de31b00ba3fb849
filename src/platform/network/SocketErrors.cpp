#include "network/SocketErrors.h"

#include <cerrno>
#include <cstring>

#include <QAbstractSocket>

namespace velkon {

SocketFailure FailureFromErrno(int err)
{
    switch (err) {
        case EADDRINUSE:
            return {kErrAddressInUse, "Address in use"};
        case EADDRNOTAVAIL:
            return {kErrAddressNotAvailable, "Address not available"};
        case ENETDOWN:
            return {kErrNetworkDown, "Network is down"};
        case ENETUNREACH:
            return {kErrNetworkUnreachable, "Network is unreachable"};
        case ECONNABORTED:
            return {kErrConnectionAborted, "Connection aborted"};
        case ECONNRESET:
        case EPIPE:
            return {kErrConnectionReset, "Connection reset by peer"};
        case ETIMEDOUT:
            return {kErrTimedOut, "Connection timed out"};
        case ECONNREFUSED:
            return {kErrConnectionRefused, "Connection refused"};
        case EHOSTDOWN:
            return {kErrHostDown, "Host is down"};
        case EHOSTUNREACH:
            return {kErrHostUnreachable, "Host unreachable"};
        case EACCES:
        case EPERM:
            return {kErrPermission, "Permission denied"};
        case EINVAL:
            return {kErrInvalidArgument, "Invalid argument"};
        case EMFILE:
        case ENFILE:
            return {kErrTooManyFiles, "Too many open files"};
        case ENOBUFS:
        case ENOMEM:
            return {kErrNoBuffers, "No buffer space available"};
        case EAFNOSUPPORT:
            return {kErrFamilyNotSupported, "Address family not supported"};
        case EMSGSIZE:
            return {kErrMessageTooLong, "Message too long"};
        case EALREADY:
            return {kErrAlreadyInProgress, "Operation already in progress"};
        case EISCONN:
            return {kErrAlreadyConnected, "Already connected"};
        default:
            return {kErrSystemCall, std::strerror(err)};
    }
}

SocketFailure FailureFromQt(const QAbstractSocket& socket)
{
    const std::string text = socket.errorString().toStdString();
    switch (socket.error()) {
        case QAbstractSocket::AddressInUseError:
            return FailureFromErrno(EADDRINUSE);
        case QAbstractSocket::SocketAddressNotAvailableError:
            return FailureFromErrno(EADDRNOTAVAIL);
        case QAbstractSocket::SocketAccessError:
            return FailureFromErrno(EACCES);
        case QAbstractSocket::DatagramTooLargeError:
            return FailureFromErrno(EMSGSIZE);
        case QAbstractSocket::ConnectionRefusedError:
            return FailureFromErrno(ECONNREFUSED);
        case QAbstractSocket::SocketTimeoutError:
            return FailureFromErrno(ETIMEDOUT);
        case QAbstractSocket::SocketResourceError:
            return {kErrNoBuffers, text};
        case QAbstractSocket::NetworkError:
            return {kErrNetworkUnreachable, text};
        case QAbstractSocket::HostNotFoundError:
            return {kErrHostNotFound, "Host not found"};
        case QAbstractSocket::UnsupportedSocketOperationError:
            return {kErrFamilyNotSupported, text};
        default:
            return {kErrSystemCall, text};
    }
}

namespace {

const char* StateName(int state)
{
    switch (state) {
        case kSockClosed:
            return "closed";
        case kSockOpen:
            return "open";
        case kSockListening:
            return "listening";
        case kSockResolvingHost:
            return "resolving the host name";
        case kSockConnecting:
            return "connecting";
        case kSockConnected:
            return "connected";
        case kSockClosing:
            return "closed by the peer";
        case kSockError:
            return "failed";
        default:
            return "in an unknown state";
    }
}

}  // namespace

Result WrongState(int state)
{
    return Result::Fail("Not possible while the socket is " + std::string(StateName(state)) +
                            " (state " + std::to_string(state) + ")",
                        kErrWrongState);
}

}  // namespace velkon
