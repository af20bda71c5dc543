#include "ButtonTestSupport.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace controls;
using namespace buttontest;

// A parent whose class name makes the check box toggle only on the box itself.
class TRdFoldPanel : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;
};

namespace {

// Records the mouse events a plain widget receives.
class Recorder : public QWidget
{
public:
    using QWidget::QWidget;
    QStringList events;

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        events << QStringLiteral("press %1,%2").arg(e->pos().x()).arg(e->pos().y());
    }
    void mouseReleaseEvent(QMouseEvent*) override { events << QStringLiteral("release"); }
};

// A shown window holding one 120 x 40 button at (10, 10) above a recording widget, driven through
// the window as the platform would drive it (so grabs, enter and leave are Qt's own).
struct Rig
{
    QWidget window;
    Recorder* beneath;
    TRdImageButton* b;
    QStringList log;

    explicit Rig(QWidget* parentOverride = nullptr)
    {
        window.resize(200, 100);
        beneath = new Recorder(&window);
        beneath->setGeometry(0, 0, 200, 100);
        QWidget* parent = parentOverride ? parentOverride : &window;
        if (parentOverride) {
            parentOverride->setParent(&window);
            parentOverride->setGeometry(0, 0, 200, 100);
        }
        b = new TRdImageButton(parent);
        b->SetBounds(10, 10, 120, 40);
        auto note = [this](const char* name) { return [this, name] { log << QString::fromLatin1(name); }; };
        QObject::connect(b, &TRdImageButton::OnMouseDown, b, note("down"));
        QObject::connect(b, &TRdImageButton::OnMouseUp, b, note("up"));
        QObject::connect(b, &TRdImageButton::OnClick, b, note("click"));
        QObject::connect(b, &TRdImageButton::OnDblClick, b, note("dbl"));
        QObject::connect(b, &TRdImageButton::OnMouseEnter, b, note("enter"));
        QObject::connect(b, &TRdImageButton::OnMouseExit, b, note("exit"));
        QObject::connect(b, &TRdImageButton::IconOnClick, b, note("icon"));
        QObject::connect(b, &TRdImageButton::CheckBoxOnClick, b, note("box"));
        QObject::connect(b, &TRdImageButton::OnCheckedChanged, b, note("checked"));
        QObject::connect(b, &TRdImageButton::OnMouseMove, b, note("move"));
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    ~Rig() { QTest::mouseMove(window.windowHandle(), QPoint(199, 99)); }

    QWindow* Win() { return window.windowHandle(); }
    // Button coordinates to window coordinates.
    QPoint At(int x, int y) const { return QPoint(10 + x, 10 + y); }
    void Move(int x, int y) { QTest::mouseMove(Win(), At(x, y)); }
    void Press(int x, int y)
    {
        Move(x, y);
        QTest::mousePress(Win(), Qt::LeftButton, {}, At(x, y));
    }
    void Release(int x, int y) { QTest::mouseRelease(Win(), Qt::LeftButton, {}, At(x, y)); }
    void Click(int x, int y)
    {
        Press(x, y);
        Release(x, y);
    }
    // The log without moves, then cleared.
    QStringList Take()
    {
        QStringList out;
        for (const QString& e : log)
            if (e != QLatin1String("move"))
                out << e;
        log.clear();
        return out;
    }
    void WithCheckBox()
    {
        b->SetShowCheckBox(true);
        b->SetCheckBoxNormalImage(PngPicture(b, 10, 10, 0xFF0000FF));
        b->SetCheckBoxCheckedImage(PngPicture(b, 10, 10, 0xFF00FF00));
        // The box sits at x 10..19, y 15..24.
    }
    void WithIcon()
    {
        b->SetDnNormalIcon(PngPicture(b, 16, 16, 0xFFFF0000));
        b->SetDnHoverIcon(PngPicture(b, 16, 16, 0xFFFF8000));
        b->SetDnDownIcon(PngPicture(b, 16, 16, 0xFF800000));
        // The icon sits at x 94..109, y 12..27.
    }
};

QStringList L(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* i : items)
        out << QString::fromLatin1(i);
    return out;
}

} // namespace

TEST(ImageButtonInput, ClickInsideRunsDownClickUpAndPressesOnlyMeanwhile)
{
    Rig rig;
    rig.Move(60, 20);
    EXPECT_TRUE(rig.b->Hover());
    EXPECT_EQ(rig.Take(), L({"enter"}));
    QTest::mousePress(rig.Win(), Qt::LeftButton, {}, rig.At(60, 20));
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Pressed);
    rig.Release(60, 20);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Normal);
    EXPECT_EQ(rig.Take(), L({"down", "click", "up"}));

    // A double click: the second press is no click, the double click comes before its down.
    rig.Click(60, 20);
    rig.Take();
    QTest::mouseDClick(rig.Win(), Qt::LeftButton, {}, rig.At(60, 20));
    EXPECT_EQ(rig.Take(), L({"down", "click", "up", "dbl", "down", "up"}));

    // The right button presses nothing and never clicks.
    QTest::mouseClick(rig.Win(), Qt::RightButton, {}, rig.At(60, 20));
    EXPECT_EQ(rig.Take(), L({"down", "up"}));
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Normal);
    EXPECT_TRUE(rig.beneath->events.isEmpty());
}

TEST(ImageButtonInput, LeavingWhilePressedUnhoversAndReleaseOutsideGivesNoClick)
{
    Rig rig;
    rig.Press(60, 20);
    rig.Move(150, 20);
    EXPECT_FALSE(rig.b->Hover()) << "the pointer left the pressed button";
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Pressed);
    rig.Move(60, 20);
    EXPECT_TRUE(rig.b->Hover()) << "and came back";
    rig.Move(150, 20);
    rig.Release(150, 20);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Normal);
    EXPECT_FALSE(rig.b->Hover());
    EXPECT_EQ(rig.Take(), L({"enter", "down", "exit", "enter", "exit", "up"}));
    EXPECT_TRUE(rig.beneath->events.isEmpty()) << "the button kept the pointer until release";
}

TEST(ImageButtonInput, CheckBoxPressTogglesWithoutPressingTheButton)
{
    Rig rig;
    rig.WithCheckBox();
    rig.Press(12, 17);
    EXPECT_EQ(rig.b->CheckState(), cbChecked);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Normal);
    rig.Release(12, 17);
    EXPECT_EQ(rig.Take(), L({"enter", "box", "down", "click", "up"})) << "full click: the release clicks";

    rig.b->SetCheckBoxFullClick(false);
    rig.Click(12, 17);
    EXPECT_EQ(rig.b->CheckState(), cbUnchecked);
    EXPECT_EQ(rig.Take(), L({"box", "down", "up"})) << "a press on the box alone does not click";
    // Without the full click a press elsewhere is just a button press.
    rig.Click(60, 20);
    EXPECT_EQ(rig.b->CheckState(), cbUnchecked);
    EXPECT_EQ(rig.Take(), L({"down", "click", "up"}));
    // A double click on the box is swallowed; elsewhere it arrives.
    QTest::mouseDClick(rig.Win(), Qt::LeftButton, {}, rig.At(12, 17));
    EXPECT_FALSE(rig.Take().contains(QLatin1String("dbl")));
    QTest::mouseDClick(rig.Win(), Qt::LeftButton, {}, rig.At(60, 20));
    EXPECT_TRUE(rig.Take().contains(QLatin1String("dbl")));

    // Grayed becomes checked; only a change by code reports OnCheckedChanged.
    rig.b->SetCheckState(cbGrayed);
    EXPECT_EQ(rig.Take(), L({"checked"}));
    rig.Click(12, 17);
    EXPECT_EQ(rig.b->CheckState(), cbChecked);
    EXPECT_FALSE(rig.Take().contains(QLatin1String("checked")));
    rig.b->SetChecked(false);
    EXPECT_EQ(rig.Take(), L({"checked"}));
}

TEST(ImageButtonInput, FullClickCheckBoxTogglesOnAPressElsewhereExceptInAFoldPanel)
{
    {
        Rig rig;
        rig.WithCheckBox();
        rig.WithIcon();
        rig.Press(60, 20);
        EXPECT_EQ(rig.b->CheckState(), cbChecked);
        EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Pressed) << "and the button is pressed too";
        rig.Release(60, 20);
        EXPECT_EQ(rig.Take(), L({"enter", "box", "down", "click", "up"}));
        rig.Click(100, 20);
        EXPECT_EQ(rig.b->CheckState(), cbChecked) << "a press on the icon leaves the box alone";
    }
    {
        Rig rig(new TRdFoldPanel);
        rig.WithCheckBox();
        rig.Click(60, 20);
        EXPECT_EQ(rig.b->CheckState(), cbUnchecked);
        EXPECT_EQ(rig.Take(), L({"enter", "down", "click", "up"}));
        rig.Click(12, 17);
        EXPECT_EQ(rig.b->CheckState(), cbChecked) << "the box itself still toggles";
    }
}

TEST(ImageButtonInput, IconClicksAreTheIconsUnlessIconFullClick)
{
    Rig rig;
    rig.WithIcon();
    rig.Move(60, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Normal);
    rig.Move(100, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Hover);
    QTest::mousePress(rig.Win(), Qt::LeftButton, {}, rig.At(100, 20));
    EXPECT_EQ(rig.b->IconState(), TIconState::Down);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Normal);
    rig.Release(100, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Hover);
    EXPECT_EQ(rig.Take(), L({"enter", "down", "icon", "up"}));
    rig.Move(60, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Normal);

    // Pressed on the icon and released off the control: no click, and the icon comes back up.
    rig.Press(100, 20);
    rig.Move(150, 20);
    rig.Release(150, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Normal);
    EXPECT_EQ(rig.Take(), L({"down", "exit", "up"}));

    rig.b->SetIconFullClick(true);
    rig.Move(60, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Hover) << "the icon follows the whole button";
    QTest::mousePress(rig.Win(), Qt::LeftButton, {}, rig.At(60, 20));
    EXPECT_EQ(rig.b->IconState(), TIconState::Down);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Pressed);
    rig.Release(60, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Hover);
    EXPECT_EQ(rig.Take(), L({"enter", "down", "click", "up"}));
    rig.Move(150, 20);
    EXPECT_EQ(rig.b->IconState(), TIconState::Normal);
}

TEST(ImageButtonInput, SelectedWithIconLockChangesNothingButReportsTheMouse)
{
    Rig rig;
    rig.WithIcon();
    rig.b->SetIconFullClick(true);
    rig.b->SetButtonState(TImageButtonState::Selected);
    EXPECT_EQ(rig.b->IconState(), TIconState::Selected);
    rig.Move(100, 20);
    rig.Move(60, 20);
    QTest::mousePress(rig.Win(), Qt::LeftButton, {}, rig.At(60, 20));
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Selected);
    EXPECT_EQ(rig.b->IconState(), TIconState::Selected);
    EXPECT_FALSE(rig.b->Hover());
    rig.Release(60, 20);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Selected);
    EXPECT_EQ(rig.b->IconState(), TIconState::Selected);
    EXPECT_TRUE(rig.log.contains(QLatin1String("move")));
    EXPECT_EQ(rig.Take(), L({"enter", "down", "click", "up"}));
    rig.b->SetButtonState(TImageButtonState::Normal);
    EXPECT_EQ(rig.b->IconState(), TIconState::Normal) << "the icon follows the selection back";
}

TEST(ImageButtonInput, TransparentRangePassesPressesToWhatLiesBeneath)
{
    Rig rig;
    // Range picture: opaque white except a transparent 10 x 10 top-left corner and a black
    // (opaque) bottom-right corner.
    QImage range(120, 40, QImage::Format_ARGB32);
    range.fill(0xFFFFFFFF);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            range.setPixel(x, y, 0x00FFFFFF);
            range.setPixel(110 + x, 30 + y, 0xFF000000);
        }
    TPicture picture;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    range.save(&buffer, "PNG");
    picture.LoadFromData(png);
    rig.b->SetImageRange(&picture);
    EXPECT_FALSE(rig.b->RangeHitTest(2, 2));
    EXPECT_FALSE(rig.b->RangeHitTest(115, 35)) << "black is outside the range";
    EXPECT_TRUE(rig.b->RangeHitTest(60, 20));

    rig.Move(60, 20);
    rig.Move(3, 3);
    EXPECT_FALSE(rig.b->Hover()) << "the corner is not part of the button";
    rig.Click(3, 3);
    EXPECT_EQ(rig.beneath->events, QStringList({QStringLiteral("press 13,13"), QStringLiteral("release")}));
    rig.Click(60, 20);
    EXPECT_EQ(rig.Take(), L({"enter", "exit", "enter", "down", "click", "up"}));
    EXPECT_EQ(rig.beneath->events.size(), 2);

    // Without margins the picture counts at its own size; with them it is fitted to the control.
    rig.b->SetBounds(10, 10, 240, 80);
    EXPECT_FALSE(rig.b->RangeHitTest(200, 60));
    rig.b->ImageOption()->SetMargins(10, 10, 10, 10);
    EXPECT_TRUE(rig.b->RangeHitTest(200, 60));
    EXPECT_FALSE(rig.b->RangeHitTest(5, 5));
    EXPECT_TRUE(rig.b->RangeHitTest(12, 5));
    EXPECT_FALSE(rig.b->RangeHitTest(235, 75));

    // Only a PNG range shapes the control.
    picture.SetGraphic(TBitmap::FromImage(range));
    rig.b->SetImageRange(&picture);
    EXPECT_TRUE(rig.b->RangeHitTest(2, 2));
}

namespace {

// The tool tip a help event over the button brings up ("" for none).
QString ToolTipAt(TRdImageButton& b, QPoint pos)
{
    QToolTip::hideText();
    for (int i = 0; i < 200 && QToolTip::isVisible(); ++i)
        QTest::qWait(10);
    QHelpEvent help(QEvent::ToolTip, pos, b.mapToGlobal(pos));
    QCoreApplication::sendEvent(&b, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

} // namespace

TEST(ImageButtonInput, AutoShowHintShowsOnlyCutCaptions)
{
    Rig rig;
    rig.b->SetAutoShowHint(true);
    rig.b->SetCaption(QStringLiteral("Go"));
    ASSERT_FALSE(rig.b->FoundTextEllipsis());
    rig.b->SetHint(QStringLiteral("custom|long help"));
    EXPECT_EQ(ToolTipAt(*rig.b, {60, 20}), QString())
        << "a fitting caption shows no hint, not even a custom one";

    rig.b->SetHint(QString());
    rig.b->SetCaption(QStringLiteral("A caption far too long for a button of this width"));
    ASSERT_TRUE(rig.b->FoundTextEllipsis());
    EXPECT_EQ(ToolTipAt(*rig.b, {60, 20}), rig.b->Caption());
    rig.b->SetHint(QStringLiteral("custom|long help"));
    EXPECT_EQ(ToolTipAt(*rig.b, {60, 20}), QStringLiteral("custom"));

    bool asked = false;
    rig.b->SetOnShowHint([&](QString& text, bool& canShow, THintInfo& info) {
        asked = true;
        EXPECT_EQ(text, QStringLiteral("custom"));
        EXPECT_TRUE(canShow);
        EXPECT_EQ(info.CursorPos, QPoint(60, 20));
        canShow = false;
    });
    EXPECT_EQ(ToolTipAt(*rig.b, {60, 20}), QString());
    EXPECT_TRUE(asked);
    rig.b->SetOnShowHint([](QString& text, bool&, THintInfo&) { text = QStringLiteral("changed"); });
    EXPECT_EQ(ToolTipAt(*rig.b, {60, 20}), QStringLiteral("changed"));

    rig.b->SetOnShowHint(nullptr);
    rig.b->SetAutoShowHint(false);
    rig.b->SetShowHint(false);
    EXPECT_EQ(ToolTipAt(*rig.b, {60, 20}), QString()) << "hints off";
}

TEST(ImageButtonInput, CursorsOverCheckBoxAndIconAreSavedAndRestored)
{
    Rig rig;
    rig.WithCheckBox();
    rig.WithIcon();
    rig.b->SetCheckBoxCursor(crHandPoint);
    rig.b->SetIconCursor(-3);
    rig.Move(60, 20);
    EXPECT_EQ(rig.b->Cursor(), crDefault);
    rig.Move(12, 17);
    EXPECT_EQ(rig.b->Cursor(), crHandPoint);
    EXPECT_EQ(rig.b->cursor().shape(), Qt::PointingHandCursor);
    rig.Move(60, 20);
    EXPECT_EQ(rig.b->Cursor(), crDefault);
    EXPECT_FALSE(rig.b->testAttribute(Qt::WA_SetCursor));

    rig.Move(100, 20);
    EXPECT_EQ(rig.b->Cursor(), -3);
    EXPECT_EQ(rig.b->cursor().shape(), Qt::CrossCursor);
    rig.Move(150, 20);
    EXPECT_EQ(rig.b->Cursor(), crDefault) << "leaving restores the cursor";
    rig.Move(12, 17);
    rig.Move(150, 20);
    EXPECT_EQ(rig.b->Cursor(), crDefault);
}

TEST(ImageButtonInput, DisabledButtonReportsEnterWithoutHover)
{
    Rig rig;
    rig.b->SetEnabled(false);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Disabled);
    rig.Move(60, 20);
    EXPECT_FALSE(rig.b->Hover());
    rig.Click(60, 20);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Disabled);
    rig.Move(150, 20);
    EXPECT_EQ(rig.Take(), L({"enter", "exit"}));
    rig.b->SetEnabled(true);
    EXPECT_EQ(rig.b->ButtonState(), TImageButtonState::Normal);
}

TEST(ImageButtonInput, ContextPopupAsksTheOwnerBeforeShowingThePopupMenu)
{
    Rig rig;
    QMenu menu;
    menu.addAction(QStringLiteral("item"));
    rig.b->SetPopupMenu(&menu);
    bool handle = true;
    QPoint asked;
    QObject::connect(rig.b, &TRdImageButton::OnContextPopup, rig.b, [&](QObject*, QPoint pos, bool* handled) {
        asked = pos;
        *handled = handle;
    });
    QContextMenuEvent byOwner(QContextMenuEvent::Mouse, QPoint(60, 20), rig.b->mapToGlobal(QPoint(60, 20)));
    QCoreApplication::sendEvent(rig.b, &byOwner);
    EXPECT_EQ(asked, QPoint(60, 20));
    EXPECT_FALSE(menu.isVisible()) << "the owner handled it";
    handle = false;
    QContextMenuEvent shown(QContextMenuEvent::Mouse, QPoint(60, 20), rig.b->mapToGlobal(QPoint(60, 20)));
    QCoreApplication::sendEvent(rig.b, &shown);
    EXPECT_TRUE(menu.isVisible());
    menu.close();
}
#include "ImageButtonInputTest.moc"
