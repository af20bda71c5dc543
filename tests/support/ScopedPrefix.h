#pragma once
// Points WINEPREFIX (and, when given, WINE) at a test's own folders for the life of the object
// and puts both back as they were, set or unset, when it ends.

#include <QByteArray>
#include <QString>

namespace testsupport {

class ScopedPrefix
{
public:
    explicit ScopedPrefix(const QString& prefix, const QString& wineLoader = {})
        : m_prefix(save("WINEPREFIX")), m_wine(save("WINE"))
    {
        qputenv("WINEPREFIX", prefix.toUtf8());
        if (!wineLoader.isEmpty())
            qputenv("WINE", wineLoader.toUtf8());
    }
    ~ScopedPrefix()
    {
        restore("WINEPREFIX", m_prefix);
        restore("WINE", m_wine);
    }
    ScopedPrefix(const ScopedPrefix&) = delete;
    ScopedPrefix& operator=(const ScopedPrefix&) = delete;

private:
    struct Saved
    {
        bool wasSet = false;
        QByteArray value;
    };
    static Saved save(const char* name) { return {qEnvironmentVariableIsSet(name), qgetenv(name)}; }
    static void restore(const char* name, const Saved& saved)
    {
        saved.wasSet ? qputenv(name, saved.value) : qunsetenv(name);
    }

    Saved m_prefix;
    Saved m_wine;
};

} // namespace testsupport
