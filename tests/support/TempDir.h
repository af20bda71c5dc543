#pragma once
// Test helpers shared by every test folder.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A fresh folder removed when the test ends.
class TempDir
{
public:
    TempDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const { return m_dir.filePath(relative); }
    // Writes (creating parent folders) and returns the full path.
    QString write(const QString& relative, const QByteArray& content) const;

private:
    QTemporaryDir m_dir;
};

QByteArray ReadAll(const QString& path);
// The read-only test data in the source tree, tests/data (PngSuite and the like).
QString TestDataDir();
// Where tests keep what a person may want to look at afterwards (screenshots).
QString ArtifactDir();
// The project's source folder.
QString SourceDir();
// Folder of the built executables (the tool, the demo product, test doubles).
QString BinDir();

} // namespace testsupport
