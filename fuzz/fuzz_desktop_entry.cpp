// Any bytes as a desktop entry file: the parser and the Exec splitting must neither crash nor hang;
// a parsed entry has an Exec; the command made for a link carries the link whole in one of its
// arguments, unchanged by the field codes around it; the value unescaping never grows a text.
#include "FuzzCheck.h"

#include "crash/send/DesktopEntry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using crash::send::DesktopEntry;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = QString::fromUtf8(bytes);
    check(crash::send::UnescapeDesktopValue(text).size() <= text.size());
    (void)DesktopEntry::splitExec(text);

    const auto entry = DesktopEntry::parse(bytes, QStringLiteral("/fuzz/mail.desktop"));
    if (!entry)
        return 0;
    check(!entry->exec().trimmed().isEmpty());
    // A link with field codes and quoting of its own, which must not be expanded again.
    const QString link = QStringLiteral("mailto:a@b.example?subject=%u%%20\"x\"&body=%c");
    const QStringList command = entry->commandFor(link);
    if (!DesktopEntry::splitExec(entry->exec()))
        check(command.isEmpty());
    if (!command.isEmpty()) {
        bool carried = false;
        for (const QString& argument : command)
            carried = carried || argument.contains(link);
        check(carried);
    }
    return 0;
}
