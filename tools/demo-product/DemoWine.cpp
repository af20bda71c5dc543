// demo-wine <program> [arguments...]
// Plays the part of the Wine loader for the demo prefix: maps the program's Windows path through
// $WINEPREFIX and runs it in place of this process, with its Windows path as the first word of
// the command line, the way a program started by Wine shows up in the process list.
#include "platform/WinePrefix.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: demo-wine <program> [arguments...]\n");
        return 2;
    }
    const QString given = QString::fromLocal8Bit(argv[1]);
    const bool windows = platform::WinePrefix::isWindowsPath(given);
    const QString native = windows ? platform::WinePrefix::toNativePath(given) : given;
    const QString windowsPath = windows ? given : platform::WinePrefix::toWindowsPath(given);
    if (native.isEmpty() || !QFileInfo(native).isExecutable()) {
        std::fprintf(stderr, "demo-wine: cannot run %s\n", argv[1]);
        return 1;
    }
    const QByteArray file = QFile::encodeName(native);
    const QByteArray first = (windowsPath.isEmpty() ? native : windowsPath).toLocal8Bit();
    std::vector<char*> args{const_cast<char*>(first.constData())};
    for (int i = 2; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv(file.constData(), args.data());
    std::perror("demo-wine: execv");
    return 1;
}
