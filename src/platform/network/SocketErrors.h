#pragma once

#include <string>

#include "components/Result.h"
#include "components/SocketArray.h"

class QAbstractSocket;

namespace velkon {

// Classic numbers beyond the common ones of SocketArray.h.
enum SocketErrorMore : int {
    kErrPermission = 10013,
    kErrInvalidArgument = 10022,
    kErrTooManyFiles = 10024,
    kErrAlreadyInProgress = 10037,
    kErrDestinationRequired = 10039,
    kErrMessageTooLong = 10040,
    kErrFamilyNotSupported = 10047,
    kErrNoBuffers = 10055,
    kErrAlreadyConnected = 10056,
    kErrNotConnected = 10057,
    kErrHostDown = 10064,
    kErrSystemCall = 10107,
    // Numbers of the classic socket control for calls it cannot carry out.
    kErrNoSuchElement = 340,
    kErrAlreadyLoaded = 360,
    kErrInvalidValue = 380,
    kErrWrongState = 40020,
};

// A socket failure as the session sees it: a classic number and its text.
struct SocketFailure {
    int number = 0;
    std::string description;

    Result ToResult() const { return Result::Fail(description, number); }
};

// The one translation of system errors into classic numbers and texts.
SocketFailure FailureFromErrno(int err);
// Qt socket errors; those with a system twin read as the system error does.
SocketFailure FailureFromQt(const QAbstractSocket& socket);

// A call the element's state does not allow.
Result WrongState(int state);

}  // namespace velkon
