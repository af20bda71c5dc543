// Registry reads against a generated system.reg of about 1.7 MB in the shape wineboot writes
// (CLSID and interface keys, typed values, hex blobs over continuation lines, the 32-bit view):
//  ColdLookup:   parsing the hive and reading the product's install location, which is what every
//                open cost before parsed hives were kept;
//  WarmLookup:   the same read through RegistryKey::open while the file is unchanged;
//  ChangedHive:  the read right after the file's modification time moved (the cache parses again).
// Target: WarmLookup at most 1/100 of ColdLookup.

#include "platform/Registry.h"
#include "platform/RegistryHive.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const QString ProductKey = QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1");
const QString ProductKeyInFile =
    QStringLiteral("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1");

QByteArray Guid(int n)
{
    return QByteArray("{") + QByteArray::number(0x10000000 + n, 16).toUpper() + "-0000-0000-C000-" +
           QByteArray::number(0x100000000000LL + n * 7919LL, 16).toUpper() + "}";
}

QByteArray GeneratedSystemHive(qsizetype atLeast)
{
    QByteArray out("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n");
    auto key = [&out](const QByteArray& path) {
        out += "\n[" + path + "] 1796629034\n#time=1dd861dc71d5b56\n";
    };
    for (int n = 0; out.size() < atLeast; ++n) {
        const QByteArray view = n % 3 == 0 ? "Software\\\\Wow6432Node\\\\Classes" : "Software\\\\Classes";
        const QByteArray clsid = view + "\\\\CLSID\\\\" + Guid(n);
        key(clsid);
        out += "@=\"Component object " + QByteArray::number(n) + "\"\n";
        key(clsid + "\\\\InprocServer32");
        out += "@=\"C:\\\\windows\\\\system32\\\\module" + QByteArray::number(n % 97) + ".dll\"\n";
        out += "\"ThreadingModel\"=\"Both\"\n";
        key(view + "\\\\Interface\\\\" + Guid(n + 500000));
        out += "@=\"IUnknownPart" + QByteArray::number(n) + "\"\n\"NumMethods\"=dword:0000000" +
               QByteArray::number(n % 10) + "\n";
        if (n % 5 == 0) {
            key("Software\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Fonts\\\\Part" + QByteArray::number(n));
            out += "\"Path\"=str(2):\"%SystemRoot%\\\\Fonts\\\\font" + QByteArray::number(n) + ".ttf\"\n";
            out += "\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\n"
                   "  18,19,1a,1b,1c,1d,1e,1f,20\n";
        }
        if (n == 1500) {
            key("Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Mirelune_is1");
            out += "\"InstallLocation\"=\"C:\\\\Program Files (x86)\\\\Orlix\\\\Mirelune\\\\\"\n"
                   "\"MajorVersion\"=dword:0000000b\n";
        }
    }
    return out;
}

class Prefix
{
public:
    Prefix()
    {
        qputenv("WINEPREFIX", m_dir.path().toUtf8());
        QFile file(systemHive());
        if (file.open(QIODevice::WriteOnly))
            file.write(GeneratedSystemHive(1700 * 1024));
    }
    QString systemHive() const { return m_dir.filePath(QStringLiteral("system.reg")); }

private:
    QTemporaryDir m_dir;
};

Prefix& ThePrefix()
{
    static Prefix prefix;
    return prefix;
}

void ColdLookup(benchmark::State& state)
{
    const QString file = ThePrefix().systemHive();
    state.counters["hive_kb"] = double(QFileInfo(file).size()) / 1024.0;
    for (auto _ : state) {
        const platform::RegistryHive hive = platform::RegistryHive::load(file);
        const platform::RegistryValue* v = hive.value(ProductKeyInFile, QStringLiteral("InstallLocation"));
        if (!v)
            state.SkipWithError("product key missing");
        benchmark::DoNotOptimize(v);
    }
}

QString ReadLocation()
{
    QString location;
    if (auto key = platform::RegistryKey::open(platform::RootKey::LocalMachine, ProductKey,
                                               platform::KEY_READ | platform::KEY_WOW64_32KEY))
        key->readString(QStringLiteral("InstallLocation"), location);
    return location;
}

void WarmLookup(benchmark::State& state)
{
    ThePrefix();
    if (ReadLocation().isEmpty())
        state.SkipWithError("product key missing");
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadLocation());
}

void ChangedHive(benchmark::State& state)
{
    QFile file(ThePrefix().systemHive());
    QDateTime stamp = QDateTime::currentDateTime();
    for (auto _ : state) {
        state.PauseTiming();
        stamp = stamp.addSecs(1);
        if (!file.open(QIODevice::ReadWrite) || !file.setFileTime(stamp, QFileDevice::FileModificationTime))
            state.SkipWithError("cannot touch the hive");
        file.close();
        state.ResumeTiming();
        benchmark::DoNotOptimize(ReadLocation());
    }
}

} // namespace

BENCHMARK(ColdLookup)->Unit(benchmark::kMillisecond);
BENCHMARK(WarmLookup)->Unit(benchmark::kMicrosecond);
BENCHMARK(ChangedHive)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
