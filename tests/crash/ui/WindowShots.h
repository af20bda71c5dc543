#pragma once
// Screenshots of windows as the X server shows them, kept as test artifacts.

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>

namespace crashtest {

inline QString ArtifactDir()
{
    QString dir =
        qEnvironmentVariable("SKINTOOL_ARTIFACT_DIR", QStringLiteral("/tmp/skintool-test-artifacts"));
    QDir().mkpath(dir);
    return dir;
}

// Shows the window as the user gets it: exposed and active, so keys reach it.
inline void WaitUntilActive(QWidget* window)
{
    if (!QTest::qWaitForWindowActive(window, 5000))
        qWarning("window was not activated");
}

// Waits until the window is exposed and painted, then grabs its screen rectangle.
inline QImage ShootWindow(QWidget* window, const QString& name)
{
    if (!QTest::qWaitForWindowExposed(window, 5000))
        qWarning("window %s was not exposed", qPrintable(name));
    QTest::qWait(150);
    const QRect area = window->frameGeometry();
    QImage shot = QGuiApplication::primaryScreen()
                      ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                      .toImage();
    shot.save(ArtifactDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
    return shot;
}

// The whole screen.
inline QImage ShootScreen(const QString& name)
{
    QTest::qWait(150);
    QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    shot.save(ArtifactDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
    return shot;
}

} // namespace crashtest
