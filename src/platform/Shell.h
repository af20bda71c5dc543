#pragma once
// Starting things the way the Windows shell does, on this machine:
// - a program of the product's prefix (a ".exe" given by Windows or native path) is started
//   through $WINE (else "wine") with WINEPREFIX set, as the desktop would start it;
// - a folder, document or web address is opened with the desktop's default opener;
// - a web address from elsewhere (a server's answer) is opened only as one: see OpenWebAddress;
// - a file or folder is shown in the desktop's file manager.
// Starting, opening and showing go through swappable handlers, so tests record them instead.

#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

// The "open" verb without waiting. Returns whether the start itself worked; callers that follow
// the Windows habit ignore it and judge success from the files afterwards.
bool ShellOpen(const QString& target, const QStringList& arguments = {}, const QString& workingFolder = {});

// Opens an absolute http or https address with the desktop's URL opener (xdg-open, started
// directly). Anything else is refused, so an address from an untrusted source never runs a
// program of the prefix and is never taken as a local path. Returns whether the opener started.
bool OpenWebAddress(const QString& address);

// `address` fully encoded as OpenWebAddress hands it on; empty when it would refuse it.
QString WebAddressToOpen(const QString& address);

// Opens the folder that holds `nativePath` with the item itself selected: through the desktop's
// file-manager service, else the folder with the desktop's default opener, else a file manager
// started on the path. Reports nothing.
void ShowInFileManager(const QString& nativePath);

struct ShellHandlers
{
    std::function<bool(const QString& target, const QStringList& arguments, const QString& workingFolder)>
        open;
    std::function<void(const QString& nativePath)> showInFileManager;
    std::function<bool(const QString& webAddress)> openWebAddress; // gets only checked addresses
};

// Installs the handlers behind ShellOpen, ShowInFileManager and OpenWebAddress and returns those in force
// before; an empty member restores the real one.
ShellHandlers SetShellHandlers(ShellHandlers handlers);

// The real implementations, for handlers that add to them.
bool SystemShellOpen(const QString& target, const QStringList& arguments, const QString& workingFolder);
void SystemShowInFileManager(const QString& nativePath);
bool SystemOpenWebAddress(const QString& webAddress);

// The Wine loader in force: $WINE, else "wine".
QString WineLoader();

// Starts `program` with a Windows-style parameter string in `workingFolder`, hidden (its output
// discarded), and waits for it: the "open" verb with a wait on the process handle. A program still
// running after `longestMs` is killed, so a hung one cannot hold its caller for ever. The
// parameters are split into arguments by the Windows command-line rules, so a command line
// reaches the program as it would on Windows. Returns whether it could be started.
inline constexpr int LongestRunAndWaitMs = 30 * 60 * 1000;
bool RunAndWait(const QString& program, const QString& parameters, const QString& workingFolder,
                int longestMs = LongestRunAndWaitMs);

// The Windows rules for one command line: blanks and tabs separate, double quotes group,
// 2n backslashes before a quote give n backslashes and a quote mark that groups, 2n+1 give n
// backslashes and a literal quote, other backslashes stand for themselves, and "" inside a
// quoted part is a literal quote.
QStringList SplitWindowsCommandLine(const QString& parameters);

// `text` written for the inside of a double-quoted argument, so that the rules above give it back
// unchanged: a quote mark becomes \", and backslashes before a quote mark (or before the closing
// quote) are doubled. Windows paths cannot hold a quote mark; native paths can.
QString EscapeInsideQuotes(const QString& text);

} // namespace platform
