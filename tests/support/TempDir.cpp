#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

TempDir::TempDir() : m_dir(QDir::tempPath() + QStringLiteral("/skintool-test-XXXXXX")) {}

QString TempDir::write(const QString& relative, const QByteArray& content) const
{
    const QString full = file(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile f(full);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
    return full;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString SourceDir()
{
    const QString fromEnv = qEnvironmentVariable("SKINTOOL_SOURCE_DIR");
    return fromEnv.isEmpty() ? QStringLiteral(SKINTOOL_SOURCE_DIR_DEFAULT) : fromEnv;
}

QString TestDataDir()
{
    return SourceDir() + QStringLiteral("/tests/data");
}

QString ArtifactDir()
{
    QString dir = qEnvironmentVariable("SKINTOOL_ARTIFACT_DIR");
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/skintool-test-artifacts");
    QDir().mkpath(dir);
    return dir;
}

QString BinDir()
{
    const QString fromEnv = qEnvironmentVariable("SKINTOOL_BIN_DIR");
    // Test executables are built into the same folder as everything else.
    return fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() : fromEnv;
}

} // namespace testsupport
