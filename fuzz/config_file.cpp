// Configuration files (*.vkc) as people and older versions leave them: the
// INI text, the session sections and the shell's reading of a whole file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "Fakes.h"
#include "FuzzCheck.h"
#include "session/SessionSettings.h"
#include "shell/IniFile.h"
#include "shell/SessionSection.h"
#include "shell/Shell.h"

using namespace velkon;

namespace {

// The text a session's settings save as, in a file of their own.
std::string SavedSession(const SessionSettings& settings)
{
    IniFile file;
    WriteSessionKeys(file, "Session1", settings);
    return file.Serialize();
}

void CheckSessionSection(const IniFile& file)
{
    SessionSettings read;
    ReadSessionKeys(file, "Session1", read);
    // What is saved of a read section reads back as the same settings.
    const std::string saved = SavedSession(read);
    SessionSettings again;
    ReadSessionKeys(IniFile::Parse(saved), "Session1", again);
    FUZZ_CHECK(SavedSession(again) == saved);
}

void CheckWriteKeepsOtherLines(IniFile file, const std::string& text)
{
    // A key written into any file is read back as written (up to the
    // reader's blank trimming), and the file stays readable as itself.
    const std::string value = "v" + text.substr(0, 40) + "v";
    file.Write("Session1", "UserPrompt", value);
    const std::string written = file.Serialize();
    FUZZ_CHECK(IniFile::Parse(written).Serialize() == written);
    std::string expected = value;
    for (char& c : expected) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    const std::string back = IniFile::Parse(written).ReadText("Session1", "UserPrompt", "");
    FUZZ_CHECK(expected.compare(0, back.size(), back) == 0 || back.size() == 199);
}

void CheckShellReading(const std::string& text)
{
    test::FakeWorld world;
    test::FakeMainWindow window;
    Shell shell(world.app, window);
    const std::string path = shell.ResolveFileName("");
    world.files.files[path] = text;
    shell.ReadConfiguration(path);
    shell.WriteConfiguration("/opt/velkon/first.vkc");
    const std::string first = world.files.files["/opt/velkon/first.vkc"];
    shell.ReadConfiguration("/opt/velkon/first.vkc");
    shell.WriteConfiguration("/opt/velkon/second.vkc");
    FUZZ_CHECK(world.files.files["/opt/velkon/second.vkc"] == first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const IniFile file = IniFile::Parse(text);
    // Whatever the reader takes, a save gives back byte for byte.
    FUZZ_CHECK(file.Serialize() == text);
    CheckSessionSection(file);
    CheckWriteKeepsOtherLines(file, text);
    CheckShellReading(text);
    return 0;
}
