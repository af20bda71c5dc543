// settings_compiler: turns the readable settings text into the binary settings stream.
//
//   settings_compiler <file.settings> --binary <out.bin>    the stream itself
//   settings_compiler <file.settings> --source <out.cpp>    C++ that links the stream into a module
//   settings_compiler <file.form> --form-source <out.cpp> <NAME>
//                                                           C++ that links the form stream into a
//                                                           module as its resource NAME
//   settings_compiler <file.form> --form-binary <out.bin>   the form stream itself
//   settings_compiler --encipher <password> <account> <server>
//                                                           a password as the resource stores it

#include "SettingsText.h"
#include "crash/core/settings/SettingsCipher.h"

#include <QFile>
#include <QString>
#include <QTextStream>

#include <cstdio>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: settings_compiler <file.settings> (--binary|--source) <output>\n"
                         "       settings_compiler <file.form> --form-source <output> <NAME>\n"
                         "       settings_compiler <file.form> --form-binary <output>\n"
                         "       settings_compiler --encipher <password> <account> <server>\n");
    return 2;
}

bool WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.readAll() == content)
        return true; // unchanged: keep the time stamp so nothing rebuilds
    file.close();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

int main(int argc, char** argv)
{
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (first == QLatin1String("--encipher")) {
        if (argc != 5)
            return Usage();
        const QString stored =
            crash::EncipherPassword(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                    QString::fromLocal8Bit(argv[4]));
        std::printf("%s\n", qPrintable(stored));
        return 0;
    }
    if (argc < 4)
        return Usage();
    const QString mode = QString::fromLocal8Bit(argv[2]);
    const QString output = QString::fromLocal8Bit(argv[3]);
    const bool formBinary = mode == QLatin1String("--form-binary");
    const bool form = mode == QLatin1String("--form-source") || formBinary;
    if (mode == QLatin1String("--form-source") ? argc != 5
        : form                                 ? argc != 4
                                               : (argc != 4 || (mode != QLatin1String("--binary") &&
                                                                mode != QLatin1String("--source"))))
        return Usage();

    QFile input(first);
    if (!input.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: cannot read\n", qPrintable(first));
        return 1;
    }
    tools::SettingsTextDocument document;
    QString error;
    if (!tools::ParseSettingsText(QString::fromUtf8(input.readAll()), document, error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(first), qPrintable(error));
        return 1;
    }
    const QByteArray stream = form ? tools::WriteFormStream(document) : tools::WriteSettingsStream(document);
    const QByteArray content = mode == QLatin1String("--binary") || formBinary ? stream
                               : form ? tools::SettingsResourceSource(stream, first, argv[4])
                                      : tools::SettingsResourceSource(stream, first);
    if (!WriteFile(output, content)) {
        std::fprintf(stderr, "%s: cannot write\n", qPrintable(output));
        return 1;
    }
    return 0;
}
