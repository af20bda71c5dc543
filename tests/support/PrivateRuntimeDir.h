#pragma once
// A session folder of the run's own when none is set (a root shell, CI), so Qt does not warn
// about XDG_RUNTIME_DIR; tests and benchmarks create one before their application object.

#include <QDir>
#include <QTemporaryDir>
#include <memory>

namespace testsupport {

class PrivateRuntimeDir
{
public:
    PrivateRuntimeDir()
    {
        if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
            return;
        // Created with owner-only access, as Qt requires of a session folder.
        m_dir =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/skintool-runtime-XXXXXX"));
        if (m_dir->isValid())
            qputenv("XDG_RUNTIME_DIR", m_dir->path().toUtf8());
    }
    ~PrivateRuntimeDir()
    {
        if (m_dir)
            qunsetenv("XDG_RUNTIME_DIR");
    }
    PrivateRuntimeDir(const PrivateRuntimeDir&) = delete;
    PrivateRuntimeDir& operator=(const PrivateRuntimeDir&) = delete;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

} // namespace testsupport
