#include "crash/send/MailClientTransport.h"

#include "crash/core/report/ReporterWorkFolder.h"
#include "crash/send/MailtoTransport.h"
#include "platform/ChildProgram.h"
#include "platform/PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <mutex>
#include <vector>

namespace crash::send {

namespace {
// A composer that runs in the foreground (a mail program started fresh) counts as started
// once it has lived this long.
constexpr int ComposerWatchMs = 20000;
constexpr qsizetype MaxHandOverNameBytes = 240;
constexpr qsizetype MaxSuffixLength = 16;

bool SafeCharacter(QChar c)
{
    return c.unicode() >= 32 && c.unicode() != 127 && c != QLatin1Char(',') && c != QLatin1Char('"') &&
           c != QLatin1Char('\'') && c != QLatin1Char('`') && c != QLatin1Char('\\');
}

// Hand-over folders stay locked while the program runs, so that no clean-up takes a file the
// composer has yet to read; they are kept when the program ends.
void HoldUntilTheEnd(std::unique_ptr<platform::PrivateFolder> folder)
{
    static std::mutex lock;
    static std::vector<std::unique_ptr<platform::PrivateFolder>> held;
    folder->keep();
    std::lock_guard guard(lock);
    held.push_back(std::move(folder));
}

// The hand-over base in the user's own cache folder, for when the working folder's path is not
// safe; earlier hand-overs there are removed first, except those a live program still holds.
std::unique_ptr<platform::PrivateFolder> CacheBase()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString path = QDir(cache).filePath(HandOverName({}, ReporterWorkFolder::name()));
    if (cache.isEmpty() || !SafeForMailProgram(path) || !QDir().mkpath(cache))
        return nullptr;
    auto base = platform::PrivateFolder::open(path);
    if (base)
        base->removeLeftovers();
    return base;
}

} // namespace

QStringList MailClientArguments(const QString& to, const QString& subject, const QString& body,
                                const QStringList& attachedFiles)
{
    QStringList arguments{QStringLiteral("--utf8")};
    // xdg-email refuses an option without a value, and with it the whole mail.
    if (!subject.isEmpty())
        arguments << QStringLiteral("--subject") << subject;
    if (!body.isEmpty())
        arguments << QStringLiteral("--body") << body;
    for (const QString& file : attachedFiles)
        arguments << QStringLiteral("--attach") << file;
    const QString addresses = EncodeMailtoAddresses(to, false);
    if (!addresses.isEmpty())
        arguments << QStringLiteral("mailto:") + addresses;
    return arguments;
}

bool SafeForMailProgram(const QString& path)
{
    return std::all_of(path.begin(), path.end(), SafeCharacter);
}

QString HandOverName(const QString& file, const QString& sendAs)
{
    QString name = QFileInfo(sendAs.isEmpty() ? file : sendAs).fileName();
    for (QChar& c : name)
        if (!SafeCharacter(c))
            c = QLatin1Char('_');
    // Hidden or empty names would not show as attachments.
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QStringLiteral("attachment"));
    // A file name holds at most 255 bytes; room is left for the number of a second copy. The
    // ending stays, since the mail program goes by it.
    if (name.toUtf8().size() <= MaxHandOverNameBytes)
        return name;
    const QString suffix = QFileInfo(name).suffix();
    const QString ending =
        suffix.isEmpty() || suffix.size() > MaxSuffixLength ? QString() : QLatin1Char('.') + suffix;
    QString base = name.left(std::min(name.size() - ending.size(), MaxHandOverNameBytes));
    while (!base.isEmpty() && (base + ending).toUtf8().size() > MaxHandOverNameBytes)
        base.chop(1);
    return base + ending;
}

std::unique_ptr<platform::PrivateFolder> CreateHandOverFolder()
{
    const auto safeTask = [](std::unique_ptr<platform::PrivateFolder> base) {
        auto task = base ? base->createTaskFolder(QStringLiteral("mail-")) : nullptr;
        return task && SafeForMailProgram(task->path() + QLatin1Char('/')) ? std::move(task) : nullptr;
    };
    if (auto task = safeTask(ReporterWorkFolder::open()))
        return task;
    return safeTask(CacheBase());
}

std::optional<QStringList> CopyForHandOver(const QStringList& files, const QStringList& sendAsNames,
                                           const platform::PrivateFolder& folder)
{
    QStringList copies;
    for (qsizetype i = 0; i < files.size(); ++i) {
        QFile source(files[i]);
        if (!source.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QByteArray content = source.readAll();
        if (source.error() != QFileDevice::NoError)
            return std::nullopt;
        // Two attachments may come to the same name; the later one gets a number in front.
        const QString copy = folder.writeFreeName(HandOverName(files[i], sendAsNames.value(i)), content);
        if (copy.isEmpty())
            return std::nullopt;
        copies.append(copy);
    }
    return copies;
}

int SendViaMailClient(const MailClientRequest& request)
{
    // A composer needs the user; a silent send has nobody to show it to.
    if (request.silent || request.processBlocked)
        return 0;
    const QString xdgEmail = platform::FindProgram(QStringLiteral("xdg-email"));
    if (xdgEmail.isEmpty() || DefaultMailtoHandler().isEmpty())
        return 0;
    // A mail without one of its attachments is not the mail asked for: the next transport goes.
    std::optional<QStringList> files = QStringList();
    if (!request.files.isEmpty()) {
        auto folder = CreateHandOverFolder();
        files = folder ? CopyForHandOver(request.files, request.sendAsNames, *folder) : std::nullopt;
        if (!files)
            return 0;
        HoldUntilTheEnd(std::move(folder));
    }
    const auto outcome = platform::StartAndWatch(
        xdgEmail, MailClientArguments(request.to, request.subject, request.body, *files), ComposerWatchMs);
    return outcome == platform::StartOutcome::ExitedWithSuccess ||
                   outcome == platform::StartOutcome::StillRunning
               ? 1
               : 0;
}

} // namespace crash::send
