// xshot <file.png> [window title]
// Saves what the X display shows: the whole screen, or the one window with the given title
// (found among the screen's top-level windows by the X server's window names).
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <cstdio>

namespace {

// The window id of the top-level window titled `title`, from xwininfo's tree listing. Toolkits
// also name their 1x1 leader window after the program, so the largest match is the real one.
WId findWindow(const QString& title)
{
    QProcess xwininfo;
    xwininfo.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    if (!xwininfo.waitForFinished(10000))
        return 0;
    const QString quoted = QLatin1Char('"') + title + QLatin1Char('"');
    const QRegularExpression pattern(QStringLiteral("(0x[0-9a-f]+) .* (\\d+)x(\\d+)[+-]"));
    WId best = 0;
    qint64 bestArea = 0;
    for (const QString& line :
         QString::fromLocal8Bit(xwininfo.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const auto match = pattern.match(line);
        if (!line.contains(quoted) || !match.hasMatch())
            continue;
        const qint64 area = match.captured(2).toLongLong() * match.captured(3).toLongLong();
        if (area > bestArea) {
            bestArea = area;
            best = WId(match.captured(1).toULongLong(nullptr, 16));
        }
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: xshot <file.png> [window title]\n");
        return 2;
    }
    WId window = 0;
    if (args.size() > 2 && !(window = findWindow(args.at(2)))) {
        std::fprintf(stderr, "xshot: no window titled \"%s\"\n", qPrintable(args.at(2)));
        return 1;
    }
    const QPixmap shot = app.primaryScreen()->grabWindow(window);
    if (shot.isNull() || !shot.save(args.at(1), "PNG")) {
        std::fprintf(stderr, "xshot: cannot save %s\n", qPrintable(args.at(1)));
        return 1;
    }
    std::printf("%s %dx%d\n", qPrintable(args.at(1)), shot.width(), shot.height());
    return 0;
}
