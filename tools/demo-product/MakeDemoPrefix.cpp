// make-demo-prefix <prefix folder> [--tool-folder DIR] [--stock-folder DIR] [--product FILE] [--beta]
//                  [--win32]
// Creates (or refreshes) a Wine prefix with the demo product installed.
#include "demo-product/DemoPrefix.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first().startsWith(QLatin1String("--"))) {
        std::fprintf(stderr, "usage: make-demo-prefix <prefix> [--tool-folder DIR] [--stock-folder DIR] "
                             "[--product FILE] [--beta] "
                             "[--win32]\n");
        return 2;
    }
    const QString prefix = args.takeFirst();
    demo::DemoPrefixOptions options;
    const QString binDir = QCoreApplication::applicationDirPath();
    options.toolFolder = binDir;
    // The stock skin as the source tree has it, whatever a Make wrote beside the tool since.
    options.stockFolder = QStringLiteral(SKINTOOL_STOCK_FOLDER);
    options.productProgram = binDir + QStringLiteral("/kry_stub");
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--tool-folder") && !args.isEmpty())
            options.toolFolder = args.takeFirst();
        else if (a == QLatin1String("--stock-folder") && !args.isEmpty())
            options.stockFolder = args.takeFirst();
        else if (a == QLatin1String("--product") && !args.isEmpty())
            options.productProgram = args.takeFirst();
        else if (a == QLatin1String("--beta"))
            options.beta = true;
        else if (a == QLatin1String("--win32"))
            options.arch = QStringLiteral("win32");
        else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(a));
            return 2;
        }
    }
    const QString error = demo::DemoPrefix::create(prefix, options);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "make-demo-prefix: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("Demo product installed in %s\n", qPrintable(QDir(prefix).absolutePath()));
    return 0;
}
