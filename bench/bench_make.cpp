// A Make of a skin of 200 pictures of 20 KB each, against the bare cost of its work: the four
// resource-compiler runs with the same command lines and the two 500 ms pauses. Prints the
// median of five runs of each and their ratio.
//
//   build-bench/bin/bench_make
#include "app/uMain.h"
#include "demo-product/DemoPrefix.h"
#include "imaging/TPngImageDataList.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"

#include "support/PrivateRuntimeDir.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void writeRandom(const QString& path, int size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

// The compiler runs a Make does, with nothing around them.
double bareWork(const QString& tool, const QString& name)
{
    const QString rcc = tool + "rcc.exe";
    QElapsedTimer timer;
    timer.start();
    for (const QString& bundle : {name, QStringLiteral("public")}) {
        const QString source = tool + (bundle == "public" ? "public/" : "classic/");
        const QString project = tool + "NewSkin/" + bundle + ".qrc";
        platform::RunAndWait(rcc, "-o \"" + project + "\" -project", source);
        QFile::remove(source + bundle + ".qrc");
        QFile::copy(project, source + bundle + ".qrc");
        platform::RunAndWait(rcc,
                             "-binary \"" + source + bundle + ".qrc\" -o \"" + tool + "NewSkin/" + bundle +
                                 ".rcc\" -no-compress -root /" + bundle,
                             source);
        QFile::remove(source + bundle + ".qrc");
        QThread::msleep(500);
    }
    return timer.elapsed() / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::PrivateRuntimeDir runtime;
    imaging::InitializePngSharing();
    QApplication application(argc, argv);
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    const QString tool = dir.path() + "/tool/";
    QDir().mkpath(tool + "classic/images");
    QDir().mkpath(tool + "public/preview");
    QDir().mkpath(tool + "public/images");
    QFile::copy(bin + "/classic/color_setting.ini", tool + "classic/color_setting.ini");
    for (int i = 0; i < 200; ++i)
        writeRandom(tool + QString("classic/images/picture_%1.png").arg(i, 3, 10, QLatin1Char('0')),
                    20 * 1024);
    QFile::link(bin + "/rcc.exe", tool + "rcc.exe");

    const QString prefix = dir.path() + "/prefix";
    demo::DemoPrefixOptions options; // no product program: nothing to stop or start but the files
    if (const QString error = demo::DemoPrefix::create(prefix, options); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    qputenv("WINEPREFIX", prefix.toUtf8());
    qputenv("WINE", "true");
    qputenv("PATH", QByteArray("/nonexistent")); // no file manager or opener to start
    app::SetToolFolder(tool);
    platform::SetMessageBoxHandler(
        [](const platform::MessageBoxRequest&) { return platform::MsgResult::Ok; });

    app::TfrmMain form;
    form.Edit_root->setText("bench");
    std::vector<double> make, bare;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        form.Button_MakeClick();
        make.push_back(timer.elapsed() / 1000.0);
        bare.push_back(bareWork(tool, "bench"));
        std::printf("run %d: make %.3f s, bare work %.3f s\n", run + 1, make.back(), bare.back());
    }
    std::printf("median: make %.3f s, bare work %.3f s, ratio %.3f\n", median(make), median(bare),
                median(make) / median(bare));
    return 0;
}
