// Request lines of the command socket, as any local client may send them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "session/CommandProtocol.h"

using namespace velkon;

namespace {

class FakeTarget : public CommandTarget {
public:
    int SessionCount() const override { return static_cast<int>(topics.size()); }
    std::string Topic(int index) const override { return topics.at(index); }
    bool IsActive(int index) const override { return index % 2 == 0; }
    std::string StatusText(int index, int line) const override
    {
        return line == 0 ? "COM\tStatus:\r\n" + topics.at(index) : "TCP/IP Status:";
    }
    bool RemoteLineControl(int index) const override { return index == 1; }
    bool Execute(int index, const std::string& command, std::string& reason) override
    {
        ++executed;
        reason = "busy";
        return command.size() % 2 == 0 && index >= 0;
    }
    std::vector<std::string> topics{"COM1", "None yet", "com1", "Port\t2", ""};
    int executed = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeTarget target;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::string answer = HandleCommandLine(target, line);
    FUZZ_CHECK(!answer.empty() && answer.back() == '\n');
    // Only an EXECUTE that found its session reaches a session.
    const bool reached = answer.rfind("ACCEPTED", 0) == 0 || answer.rfind("REFUSED", 0) == 0;
    FUZZ_CHECK(target.executed == (reached ? 1 : 0));
    if (answer.rfind("ACCEPTED", 0) == 0 || answer.rfind("REFUSED", 0) == 0 ||
        answer.rfind("NO TOPIC", 0) == 0 || answer.rfind("ERROR", 0) == 0) {
        // One answer line for one request.
        FUZZ_CHECK(answer.find('\n') == answer.size() - 1);
    } else {
        // STATUS: one line per session, then ".".
        FUZZ_CHECK(answer.size() >= 2 && answer.compare(answer.size() - 2, 2, ".\n") == 0);
        std::size_t lines = 0;
        for (char c : answer)
            lines += c == '\n';
        FUZZ_CHECK(lines == target.topics.size() + 1);
    }
    return 0;
}
