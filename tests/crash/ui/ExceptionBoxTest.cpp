// The exception dialog under a real X server: its forms, its layout constants and what the user's
// keys and clicks decide.
#include "ReportFixture.h"
#include "WindowShots.h"
#include "crash/ui/CrashWindows.h"
#include "crash/ui/DialogBeep.h"
#include "crash/ui/DialogFonts.h"
#include "crash/ui/FlatButton.h"
#include "crash/ui/TExceptionBox.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

using crash::UserChoice;
using crash::ui::ActionCode;
using crash::ui::DialogActions;
using crash::ui::FlatButton;
using crash::ui::TExceptionBox;

namespace {

struct Recorder
{
    QStringList actions;
    DialogActions actionsRecorded()
    {
        DialogActions a;
        a.send = [this](const auto&, QWidget*) {
            actions << "send";
            return true;
        };
        a.save = [this](const auto&, QWidget*) {
            actions << "save";
            return true;
        };
        a.print = [this](const auto&, QWidget*) {
            actions << "print";
            return true;
        };
        a.fireHandlers = [this](ActionCode code) {
            actions << QString("handlers %1").arg(int(code));
            return false;
        };
        return a;
    }
};

void Click(QWidget* button)
{
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
}

// The full dialog of `report`, shown and active.
struct ShownFullDialog : TExceptionBox
{
    explicit ShownFullDialog(std::shared_ptr<crash::ExceptionReport> report)
        : TExceptionBox(std::move(report), TExceptionBox::FullDialog, {})
    {
        open(false);
        crashtest::WaitUntilActive(this);
    }
};

} // namespace

TEST(ExceptionBox, FullDialogWithCountdownLaysOutItsButtonsInTwoGroups)
{
    auto report = crashtest::MakeReport();
    report->setAutoContinue(true);
    report->setAutoDelay(60);
    Recorder recorder;
    TExceptionBox box(report, TExceptionBox::FullDialog, recorder.actionsRecorded());
    box.open(true);
    crashtest::WaitUntilActive(&box);
    QTest::qWait(300);
    EXPECT_EQ(box.windowTitle(), report->TitleBar());
    EXPECT_EQ(box.messageText(), "An error occurred in the application.");
    EXPECT_EQ(box.buttonHeight(), 22);
    for (auto b : {TExceptionBox::SendButton, TExceptionBox::SaveButton, TExceptionBox::ShowButton,
                   TExceptionBox::ContinueButton, TExceptionBox::RestartButton, TExceptionBox::CloseButton})
        ASSERT_NE(box.button(b), nullptr) << b;
    EXPECT_EQ(box.button(TExceptionBox::PrintButton), nullptr);
    // Left group in the bottom row, right group stacked at the right edge with one width.
    auto* send = box.button(TExceptionBox::SendButton);
    auto* cont = box.button(TExceptionBox::ContinueButton);
    auto* restart = box.button(TExceptionBox::RestartButton);
    auto* close = box.button(TExceptionBox::CloseButton);
    EXPECT_EQ(send->geometry().top(), close->geometry().top());
    EXPECT_EQ(restart->geometry().top(), close->geometry().top() - 26);
    EXPECT_EQ(cont->geometry().top(), restart->geometry().top() - 26);
    EXPECT_EQ(cont->width(), close->width());
    EXPECT_EQ(cont->width(), restart->width());
    EXPECT_EQ(box.width() - close->geometry().right() - 1, 4);
    EXPECT_EQ(send->width(), QFontMetrics(box.font()).horizontalAdvance("send bug report") + 39);
    EXPECT_EQ(box.height(), close->geometry().bottom() + 1 + 8);
    EXPECT_EQ(box.minimumSize(), box.maximumSize()) << "the dialog without details is not resizable";
    EXPECT_EQ(box.messageLabel()->x(), 11);
    // The countdown runs inside the continue button.
    EXPECT_EQ(box.autoActionButton(), cont);
    EXPECT_TRUE(box.countdownRunning());
    EXPECT_GT(cont->countdown(), 0.0);
    EXPECT_EQ(box.focusWidget(), cont);
    crashtest::ShootWindow(&box, "exception-dialog-full");
    Click(box.button(TExceptionBox::SaveButton));
    EXPECT_FALSE(box.countdownRunning()) << "a click stops the countdown";
    EXPECT_EQ(recorder.actions, QStringList({"save"}));
    EXPECT_FALSE(box.isFinished());
    Click(cont);
    EXPECT_TRUE(box.isFinished());
    EXPECT_EQ(box.choice(), UserChoice::Continue);
}

TEST(ExceptionBox, ClickedButtonsAreDrawnPressedAndBlockedSaveAndPrintOnlyBeep)
{
    int beeps = 0;
    const auto previous = crash::ui::SetDialogBeepHandler([&] { ++beeps; });
    auto report = crashtest::MakeReport();
    report->setPrintBtnVis(true);
    Recorder recorder;
    DialogActions actions = recorder.actionsRecorded();
    actions.processBlocked = true;
    TExceptionBox box(report, TExceptionBox::FullDialog, actions);
    box.open(false);
    crashtest::WaitUntilActive(&box);

    // A key on the button that has long had the focus: pressed for a moment, then released.
    FlatButton* print = box.button(TExceptionBox::PrintButton);
    print->setFocus();
    QTest::qWait(TExceptionBox::FocusSettleMs + 50);
    QImage atClick;
    QObject::connect(print, &QPushButton::clicked, [&] { atClick = print->grab().toImage(); });
    QTest::keyClick(print, Qt::Key_Space);
    ASSERT_FALSE(atClick.isNull());
    EXPECT_EQ(atClick.pixelColor(5, 5), QColor(32, 32, 32)) << "focused and pressed";
    QTest::qWait(50);
    EXPECT_FALSE(print->isShownPressed());
    EXPECT_EQ(print->grab().toImage().pixelColor(5, 5), QColor(64, 64, 64));
    // A mouse click brings the focus with it: no extra flash.
    Click(box.button(TExceptionBox::SaveButton));
    EXPECT_FALSE(box.button(TExceptionBox::SaveButton)->isShownPressed());
    EXPECT_EQ(beeps, 2);
    EXPECT_TRUE(recorder.actions.isEmpty()) << "no file or print dialog in a blocked process";

    // Show stays pressed while the dialog closes for the details.
    Click(box.button(TExceptionBox::ShowButton));
    EXPECT_TRUE(box.button(TExceptionBox::ShowButton)->isShownPressed());
    EXPECT_TRUE(box.reshowRequested());
    crash::ui::SetDialogBeepHandler(previous);
}

TEST(ExceptionBox, CountdownRunsOutAndClicksTheAutoActionButton)
{
    auto report = crashtest::MakeReport();
    report->setAutoClose(1);
    report->setAutoDelay(1);
    ShownFullDialog box(report);
    EXPECT_EQ(box.autoActionButton(), box.button(TExceptionBox::CloseButton));
    EXPECT_EQ(report->FocusedBtn(), 6);
    QTimer::singleShot(5000, &box, [&] { box.close(); }); // bounded: the test fails rather than hangs
    EXPECT_EQ(box.exec(), UserChoice::Close);
}

TEST(ExceptionBox, ClickDuringCountdownStopsItAndRunsTheClickedAction)
{
    auto report = crashtest::MakeReport();
    report->setAutoRestart(1);
    report->setAutoDelay(2);
    ShownFullDialog box(report);
    ASSERT_EQ(box.autoActionButton(), box.button(TExceptionBox::RestartButton));
    QTest::qWait(200);
    Click(box.button(TExceptionBox::ContinueButton));
    EXPECT_FALSE(box.countdownRunning());
    EXPECT_EQ(box.choice(), UserChoice::Continue);
}

TEST(ExceptionBox, CloseBoxFollowsFocusedButton)
{
    auto report = crashtest::MakeReport();
    report->setFocusedBtn(6);
    ShownFullDialog box(report);
    EXPECT_EQ(box.focusWidget(), box.button(TExceptionBox::CloseButton));
    box.close(); // the close box
    EXPECT_EQ(box.choice(), UserChoice::Close) << "closes the application rather than continuing it";

    auto plain = crashtest::MakeReport();
    ShownFullDialog other(plain);
    other.close();
    EXPECT_EQ(other.choice(), UserChoice::Continue);
}

TEST(ExceptionBox, ContinueIsGreyedWhenTheProgramCannotContinueAndEscapeCloses)
{
    auto report = crashtest::MakeReport("Access violation", false);
    ShownFullDialog box(report);
    EXPECT_FALSE(box.button(TExceptionBox::ContinueButton)->isEnabled());
    crashtest::ShootWindow(&box, "exception-dialog-cannot-continue");
    QTest::keyClick(box.focusWidget() ? box.focusWidget() : &box, Qt::Key_Escape);
    EXPECT_TRUE(box.isFinished());
    EXPECT_EQ(box.choice(), UserChoice::Close);
}

TEST(ExceptionBox, SmallBoxesShowTheMessageWithOkAndDetails)
{
    auto report = crashtest::MakeReport("Not find rcc.exe");
    TExceptionBox withDetails(report, TExceptionBox::SmallWithDetails, {});
    withDetails.open(false);
    crashtest::WaitUntilActive(&withDetails);
    EXPECT_TRUE(withDetails.isSmallBox());
    EXPECT_EQ(withDetails.messageText(), "Not find rcc.exe");
    EXPECT_EQ(withDetails.button(TExceptionBox::ContinueButton)->text(), "&OK");
    EXPECT_EQ(withDetails.button(TExceptionBox::ShowButton)->text(), "&Details");
    EXPECT_EQ(withDetails.button(TExceptionBox::CloseButton), nullptr);
    EXPECT_EQ(withDetails.buttonHeight(), 23);
    EXPECT_GE(withDetails.button(TExceptionBox::ContinueButton)->width(), 75);
    EXPECT_FALSE(withDetails.countdownRunning());
    crashtest::ShootWindow(&withDetails, "exception-small-box-mode2");

    auto other = crashtest::MakeReport("Not find rcc.exe");
    other->setShowBtnVis(false);
    TExceptionBox okOnly(other, TExceptionBox::SmallBox, {});
    okOnly.open(false);
    crashtest::WaitUntilActive(&okOnly);
    EXPECT_EQ(okOnly.button(TExceptionBox::ShowButton), nullptr);
    EXPECT_EQ(okOnly.button(TExceptionBox::ContinueButton)->width(), 79);
    crashtest::ShootWindow(&okOnly, "exception-small-box-mode3");
    QTest::keyClick(okOnly.button(TExceptionBox::ContinueButton), Qt::Key_Return);
    QTest::qWait(300); // Enter animates the click
    EXPECT_EQ(okOnly.choice(), UserChoice::Continue);
}

TEST(ExceptionBox, DetailsFromTheSmallBoxReopenTheFullDialogWithTabsAndNoCountdown)
{
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    report->setAutoContinue(true);
    Recorder recorder;
    bool sawFull = false;
    // Drive both dialogs from the event loop that present() runs.
    QObject scope; // pending drives end with the test
    std::function<void()> drive = [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<TExceptionBox*>(w);
            if (!box || !box->isVisible() || box->isFinished())
                continue;
            if (box->isSmallBox()) {
                Click(box->button(TExceptionBox::ShowButton));
            } else {
                sawFull = true;
                EXPECT_TRUE(box->detailsShown());
                EXPECT_FALSE(box->countdownRunning());
                EXPECT_EQ(box->autoActionButton(), nullptr);
                QStringList titles;
                for (int i = 0; i < box->tabBar()->count(); ++i)
                    titles << box->tabBar()->tabText(i);
                EXPECT_EQ(titles, QStringList({"general", "call stacks", "modules", "processes", "hardware",
                                               "cpu regs", "stack dump", "disasm"}));
                Click(box->button(TExceptionBox::CloseButton));
                return;
            }
        }
        QTimer::singleShot(100, &scope, drive);
    };
    QTimer::singleShot(200, &scope, drive);
    // A bound that ends with this test, so it cannot close a later test's windows.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
    });
    guard.start(8000);
    EXPECT_EQ(
        TExceptionBox::present(report, TExceptionBox::SmallWithDetails, false, recorder.actionsRecorded()),
        UserChoice::Close);
    EXPECT_TRUE(sawFull);
    EXPECT_EQ(recorder.actions, QStringList({"handlers 9"}));
    EXPECT_TRUE(report->AutoShowBugRep());
    EXPECT_FALSE(report->AutoContinue());
}

TEST(ExceptionBox, DetailsViewShowsEachSectionAsColumnsAndCopiesTheReport)
{
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    report->setAutoShowBugRep(true);
    ShownFullDialog box(report);
    EXPECT_GE(box.width(), 664);
    EXPECT_EQ(box.button(TExceptionBox::ShowButton), nullptr);
    EXPECT_NE(box.minimumSize(), box.maximumSize()) << "the details view can be resized";
    QTableView* list = box.reportList();
    ASSERT_NE(list->model(), nullptr);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), "description");
    EXPECT_EQ(list->model()->index(1, 1).data().toString(), "BUILDHOST");
    crashtest::ShootWindow(&box, "exception-dialog-details-general");

    // Tabs are switched by clicking them.
    QTabBar* tabs = box.tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), "address");
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "main thread ($1a2b)");
    EXPECT_EQ(list->model()->index(1, 6).data().toString(), "TfrmMain::Button_MakeClick");
    EXPECT_EQ(list->model()->index(1, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
              Qt::AlignRight);
    crashtest::ShootWindow(&box, "exception-dialog-details-callstack");
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(4).center());
    EXPECT_TRUE(box.rawView()->isVisible()) << "hardware has no columns";
    EXPECT_TRUE(box.rawView()->toPlainText().contains("Xvfb virtual display"));

    // A growing report adds its tab where the report has it, keeping the current one.
    report->sections().setField("extra info", "nothing");
    QTest::qWait(100);
    EXPECT_EQ(tabs->count(), 9);
    EXPECT_EQ(tabs->tabText(tabs->currentIndex()), "hardware");
    report->sections().setField("extra info", "");
    QTest::qWait(100);
    EXPECT_EQ(tabs->count(), 8);

    // Resizing moves the right-hand buttons and stretches the list.
    const QRect closeBefore = box.button(TExceptionBox::CloseButton)->geometry();
    const QSize listBefore = list->size();
    box.resize(box.width() + 100, box.height() + 50);
    QTest::qWait(50);
    EXPECT_EQ(box.button(TExceptionBox::CloseButton)->geometry(), closeBefore.translated(100, 50));
    EXPECT_EQ(list->size(), listBefore + QSize(100, 50));

    QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), report->reportText());
}

TEST(ExceptionBox, CtrlCWithoutDetailsCopiesTheMessage)
{
    auto report = crashtest::MakeReport();
    ShownFullDialog box(report);
    QTest::keyClick(box.button(TExceptionBox::SendButton), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "An error occurred in the application.");
}

TEST(ExceptionBox, FreezeShowsTheFrozenMessageAndHelpFiresTheHandlers)
{
    auto report = crashtest::MakeReport(QString(), true, true);
    Recorder recorder;
    TExceptionBox box(report, TExceptionBox::FullDialog, recorder.actionsRecorded());
    box.open(false);
    crashtest::WaitUntilActive(&box);
    EXPECT_EQ(box.messageText(), "The application seems to be frozen.");
    QTest::keyClick(box.focusWidget(), Qt::Key_F1);
    EXPECT_EQ(recorder.actions, QStringList({"handlers 10"}));
    // Other threads only post; the close message ends the dialog.
    QCoreApplication::postEvent(&box, new QEvent(TExceptionBox::CloseDialog));
    QTimer::singleShot(3000, &box, [&] { box.close(); });
    EXPECT_EQ(box.exec(), UserChoice::None);
}

TEST(ExceptionBox, IconStandsAtTheTopLeftAndMovesTheMessage)
{
    auto report = crashtest::MakeReport();
    DialogActions actions;
    QPixmap icon(32, 32);
    icon.fill(Qt::red);
    actions.largeIcon = icon;
    TExceptionBox box(report, TExceptionBox::FullDialog, actions);
    box.open(false);
    crashtest::WaitUntilActive(&box);
    ASSERT_NE(box.iconButton(), nullptr);
    EXPECT_EQ(box.iconButton()->geometry(), QRect(10, 9, 32, 32));
    EXPECT_EQ(box.messageLabel()->x(), 51);
    const QImage shot = crashtest::ShootWindow(&box, "exception-dialog-icon");
    EXPECT_EQ(shot.pixelColor(shot.width() - box.width() + 20, shot.height() - box.height() + 20),
              QColor(Qt::red));
}

TEST(ExceptionBox, UglyButtonsAreTallerAndLongMessagesWrapAt664)
{
    auto report = crashtest::MakeReport();
    report->setUglyBtns(true);
    report->setExceptMsg(QString("This is a long message that keeps going. ").repeated(12));
    ShownFullDialog box(report);
    EXPECT_EQ(box.buttonHeight(), 26);
    EXPECT_LE(box.messageLabel()->width(), 664 - (box.button(TExceptionBox::CloseButton)->width() + 34) + 1);
    EXPECT_GT(box.messageLabel()->height(), 2 * QFontMetrics(box.font()).height());
    crashtest::ShootWindow(&box, "exception-dialog-ugly-long");
}

TEST(ExceptionBox, DetailsInModeThreeShowTheFullDialogToo)
{
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    bool sawFull = false;
    QObject scope; // pending drives end with the test
    std::function<void()> drive = [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<TExceptionBox*>(w);
            if (!box || !box->isVisible() || box->isFinished())
                continue;
            if (box->isSmallBox()) {
                ASSERT_NE(box->button(TExceptionBox::ShowButton), nullptr)
                    << "ShowBtnVis gives mode 3 Details";
                Click(box->button(TExceptionBox::ShowButton));
            } else {
                sawFull = box->detailsShown();
                Click(box->button(TExceptionBox::ContinueButton));
                return;
            }
        }
        QTimer::singleShot(100, &scope, drive);
    };
    QTimer::singleShot(200, &scope, drive);
    EXPECT_EQ(TExceptionBox::present(report, TExceptionBox::SmallBox, false, {}), UserChoice::Continue);
    EXPECT_TRUE(sawFull);
}

TEST(ExceptionBox, OtherThreadsPresentThroughTheGuiThread)
{
    crash::PresentRequest request;
    request.report = crashtest::MakeReport();
    request.beep = false;
    UserChoice choice = UserChoice::None;
    std::atomic<bool> done{false};
    bool onGuiThread = false;
    // The dialog's loop runs inside this thread's event processing; the click comes from a timer.
    QTimer drive;
    QObject::connect(&drive, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<TExceptionBox*>(w); box && box->isVisible() && !box->isFinished()) {
                onGuiThread = box->thread() == QApplication::instance()->thread();
                Click(box->button(TExceptionBox::RestartButton));
            }
    });
    drive.start(100);
    std::thread handler([&] {
        choice = crash::ui::Present(request, {});
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 10000)
        QTest::qWait(20);
    handler.join();
    EXPECT_TRUE(onGuiThread);
    EXPECT_EQ(choice, UserChoice::Restart);
}

TEST(ExceptionBox, HugeReportOpensInTheListWithoutATextDump)
{
    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    QString stack;
    const int rows = 160000; // about 10 MB of text
    stack.reserve(rows * 66);
    for (int i = 0; i < rows; ++i)
        stack += QString("%1 +008 MireluneSkinTool uMain %2 +2 TfrmMain::Button_MakeClick_%3\n")
                     .arg(i, 8, 16, QLatin1Char('0'))
                     .arg(i % 1000, 5)
                     .arg(i);
    ASSERT_GE(stack.size() * 2, 10'000'000);
    report->sections().setField("main thread ($1a2b)", stack);
    report->setAutoShowBugRep(true);
    ShownFullDialog box(report);
    QTest::mouseClick(box.tabBar(), Qt::LeftButton, {}, box.tabBar()->tabRect(1).center());
    QTableView* list = box.reportList();
    ASSERT_TRUE(list->isVisible());
    EXPECT_EQ(list->model()->rowCount(), rows + 3); // two thread titles and the second thread's line
    list->scrollToBottom();
    QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(list->model()->index(rows, 6).data().toString(),
              QString("TfrmMain::Button_MakeClick_%1").arg(rows - 1));
    crashtest::ShootWindow(&box, "exception-dialog-huge-report");
}

TEST(ExceptionBox, MissingTahomaFallsBackToTheSansFont)
{
    crash::ui::DialogFonts::setTahomaDisabled(true);
    auto report = crashtest::MakeReport();
    TExceptionBox box(report, TExceptionBox::FullDialog, {});
    crash::ui::DialogFonts::setTahomaDisabled(false);
    EXPECT_EQ(box.font().pixelSize(), 12);
    EXPECT_NE(QFontInfo(box.font()).family(), "Tahoma");
    box.open(false);
    crashtest::ShootWindow(&box, "exception-dialog-without-tahoma");
    EXPECT_EQ(box.button(TExceptionBox::SendButton)->width(),
              QFontMetrics(box.font()).horizontalAdvance("send bug report") + 39);
}

namespace {

// Sections as the report writes them: the location, then the aligned listing with an inlined
// frame; processes with blanks in a name and a folder, kernel threads ahead of the user's own.
std::shared_ptr<crash::ExceptionReport> WrittenReport()
{
    auto report = crashtest::MakeReport();
    report->header().setAcceptingData(true);
    report->sections().setAcceptingData(true);
    report->beginUpdate();
    report->header().setField("computer name", "BUILDHOST");
    report->header().setField("exception message", "Not find rcc.exe.");
    report->sections().setField(
        "main thread ($3574)",
        "0000557844b7a1c0 +0 MireluneSkinTool ResourceCompiler 37 +21 app::RunResourceCompiler\r\n"
        "0000557844b7a1c0      MireluneSkinTool       ResourceCompiler  37 +21 app::RunResourceCompiler\r\n"
        "0000557844b7a1c0 +1c0 MireluneSkinTool       ResourceCompiler 112 +4  app::MakeSkin\r\n"
        ">> 2 frames left out\r\n"
        "00007f0c1f382a50 +090 libQt6Widgets.so.6.4.2                          "
        "QApplicationPrivate::notify_helper\r\n"
        "00005572039a7a95 +b75 MireluneSkinTool       main             166 +78 main");
    report->sections().setField("thread $3575",
                                "00007f0c1e09bd46 +0a6 libc.so.6           pthread_cond_wait\r\n"
                                "00007f0c1e4f1a2b +15b libQt6Core.so.6.4.2 QWaitCondition::wait");
    report->sections().setField("cpu registers", "rax = 0000000000000000\r\nrip = 0000557844b7a1c0");
    report->sections().setField("processes", "0001 systemd             0 normal       /usr/lib/systemd/\r\n"
                                             "0002 kworker/2:1-events  0 normal       \r\n"
                                             "0003 ksoftirqd/3         0 normal       \r\n"
                                             "0004 kworker/4:1-events  0 realtime     \r\n"
                                             "0005 kworker/5:1-events  0 normal       \r\n"
                                             "0006 ksoftirqd/6         0 normal       \r\n"
                                             "0007 kworker/7:1-events  0 normal       \r\n"
                                             "0008 kworker/8:1-events  0 realtime     \r\n"
                                             "0009 ksoftirqd/9         0 normal       \r\n"
                                             "000a kworker/10:1-events 0 normal       \r\n"
                                             "000b kworker/11:1-events 0 normal       \r\n"
                                             "04d2 Mirelune Skin Tool  2 normal       /opt/my tools/\r\n"
                                             "04d9 bash                2 below normal /usr/bin/");
    report->endUpdate();
    report->setAutoShowBugRep(true);
    return report;
}

QString Cell(QTableView* list, int row, int column)
{
    return list->model()->index(row, column).data().toString();
}

} // namespace

TEST(ExceptionBox, DetailsShowWrittenStacksAndProcessesInTheirColumns)
{
    ShownFullDialog box(WrittenReport());
    QTableView* list = box.reportList();
    QTabBar* tabs = box.tabBar();
    tabs->setCurrentIndex(1);
    ASSERT_NE(list->model(), nullptr);
    EXPECT_EQ(Cell(list, 2, 1), "") << "an inlined frame has no offset";
    EXPECT_EQ(Cell(list, 2, 2), "MireluneSkinTool");
    EXPECT_EQ(Cell(list, 2, 3), "ResourceCompiler");
    EXPECT_EQ(Cell(list, 1, 4), "37") << "the location line";
    // The thread's name spans the row; the columns fit what they hold.
    EXPECT_EQ(list->columnSpan(0, 0), 7);
    const QFontMetrics metrics(list->font());
    EXPECT_LT(list->columnWidth(0), metrics.horizontalAdvance("main thread ($3574)"));
    EXPECT_GE(list->columnWidth(3), metrics.horizontalAdvance("ResourceCompiler"));
    int others = 0;
    for (int c = 0; c < 6; ++c)
        others += list->columnWidth(c);
    EXPECT_EQ(list->columnWidth(6), list->viewport()->width() - others) << "the function takes the rest";
    crashtest::ShootWindow(&box, "exception-dialog-written-callstack");

    tabs->setCurrentIndex(3);
    ASSERT_EQ(tabs->tabText(3), "processes");
    EXPECT_EQ(list->model()->headerData(3, Qt::Horizontal).toString(), "priority");
    EXPECT_EQ(Cell(list, 1, 1), "Mirelune Skin Tool") << "processes with a program file come first";
    EXPECT_EQ(Cell(list, 1, 4), "/opt/my tools/");
    EXPECT_EQ(Cell(list, 2, 3), "below normal");
    EXPECT_EQ(Cell(list, 3, 1), "kworker/2:1-events");
    crashtest::ShootWindow(&box, "exception-dialog-written-processes");
}

TEST(ExceptionBox, KeysSwitchTheDetailsTabsFromAnywhere)
{
    ShownFullDialog box(WrittenReport());
    QTabBar* tabs = box.tabBar();
    QTableView* list = box.reportList();
    ASSERT_EQ(tabs->count(), 4);
    list->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), "address");
    EXPECT_EQ(Cell(list, 0, 0), "main thread ($3574)");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), 2);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), "reg.") << "cpu registers";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), 3);
    EXPECT_EQ(Cell(list, 0, 1), "systemd");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), 0) << "the last tab wraps to the first";
    EXPECT_EQ(Cell(list, 0, 1), "BUILDHOST");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs->currentIndex(), 3);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), 2);

    // From a button too, and the tab bar is reached with Tab.
    box.button(TExceptionBox::CloseButton)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), 1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), tabs);
    QTest::keyClick(tabs, Qt::Key_Right);
    EXPECT_EQ(tabs->currentIndex(), 2);
}
