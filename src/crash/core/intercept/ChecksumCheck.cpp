#include "crash/core/intercept/ChecksumCheck.h"

#include "crash/core/settings/CrashSettings.h"
#include "crash/core/settings/SettingsResource.h"
#include "platform/FileChecksum.h"
#include "platform/MessageBox.h"
#include "platform/ModuleHandle.h"

#include <cstdint>

namespace {

// The note the build stamps after linking (tools/crc-stamp); zero until then.
struct ChecksumNote
{
    std::uint32_t nameSize = 8;
    std::uint32_t valueSize = 4;
    std::uint32_t type = platform::kChecksumNoteType;
    char name[8] = {'H', 'a', 'l', 'v', 'C', 'r', 'c', '\0'};
    std::uint32_t value = 0;
};
} // namespace

// Linked in by name (see CMakeLists.txt) so that every executable has the note, even one that never
// calls the check.
extern "C" [[gnu::used, gnu::section(".note.halvorn.crc"),
             gnu::aligned(4)]] const ChecksumNote halvornChecksumNote{};

namespace crash {

bool ExecutableMatchesItsChecksum()
{
    const auto sum = platform::ReadFileChecksum(platform::ModuleFileName(0));
    return !sum || sum->stored == 0 || sum->stored == sum->computed;
}

void CheckExecutableChecksum()
{
    if (ExecutableMatchesItsChecksum())
        return;
    auto settings = MainSettings();
    const QString text = settings ? settings->BitFaultMsg() : QStringLiteral("The file seems to be corrupt!");
    platform::ShowMessageBox(text, QString::fromLatin1(SettingsCaption), platform::MsgIcon::Error);
}

} // namespace crash
