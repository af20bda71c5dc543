#include "controls/RdScrollBar.h"
#include "controls/TBitmap.h"
#include "platform/Exception.h"

#include <QPainter>
#include <QVariant>
#include <gtest/gtest.h>

using namespace controls;

namespace {

struct Notifications
{
    int count = 0;
    QList<bool> wantDefault;
    QObject* sender = nullptr;

    void Attach(TDesignRect& rect)
    {
        rect.SetOnChange([this, &rect](QObject* s) {
            ++count;
            sender = s;
            wantDefault.append(rect.WantDefaultMargins());
        });
    }
};

} // namespace

TEST(DesignRect, NewRectangleAndPropertyWritesNotifyOnlyOnChange)
{
    TDesignRect rect;
    EXPECT_TRUE(rect.Empty());
    EXPECT_EQ(rect.StretchMode(), sdmDefault);
    EXPECT_FALSE(rect.WantDefaultMargins());
    Notifications n;
    n.Attach(rect);

    rect.SetLeft(4);
    rect.SetLeft(4);
    rect.SetTop(5);
    rect.SetRight(6);
    rect.SetBottom(7);
    rect.SetStretchMode(sdmFill);
    rect.SetStretchMode(sdmFill);
    EXPECT_EQ(n.count, 5);
    EXPECT_EQ(n.sender, &rect);
    EXPECT_EQ((std::array{rect.Left(), rect.Top(), rect.Right(), rect.Bottom()}), (std::array{4, 5, 6, 7}));
    EXPECT_FALSE(rect.Empty());

    // Form data writes go through the same setters by name.
    EXPECT_TRUE(rect.setProperty("Bottom", 9));
    EXPECT_TRUE(rect.setProperty("StretchMode", "sdmFrame"));
    EXPECT_EQ(rect.Bottom(), 9);
    EXPECT_EQ(rect.StretchMode(), sdmFrame);
    EXPECT_EQ(n.count, 7);
}

TEST(DesignRect, EmptyWrites)
{
    TDesignRect rect;
    Notifications n;
    n.Attach(rect);
    rect.SetEmpty(true);
    EXPECT_EQ(n.count, 1) << "writing True notifies even when already empty";

    rect.SetMargins(3, 4, 5, 6);
    EXPECT_EQ(n.count, 1) << "SetMargins does not notify";
    rect.SetEmpty(false);
    EXPECT_EQ(n.count, 2);
    EXPECT_EQ(n.wantDefault.last(), true) << "the owner sees the request for default margins";
    EXPECT_FALSE(rect.WantDefaultMargins()) << "and it is cleared afterwards";
    EXPECT_EQ((std::array{rect.Left(), rect.Top(), rect.Right(), rect.Bottom()}), (std::array{3, 4, 5, 6}));

    rect.SetEmpty(true);
    EXPECT_TRUE(rect.Empty());
    EXPECT_EQ(n.wantDefault.last(), false);

    // The flag is cleared even when the handler throws.
    rect.SetOnChange([](QObject*) { throw platform::Exception("handler failed"); });
    EXPECT_THROW(rect.SetEmpty(false), platform::Exception);
    EXPECT_FALSE(rect.WantDefaultMargins());
}

TEST(DesignRect, SetMarginsMirrorsWithMinus1000)
{
    TDesignRect rect;
    rect.SetMargins(7, 8, -1000, -1000);
    EXPECT_EQ((std::array{rect.Left(), rect.Top(), rect.Right(), rect.Bottom()}), (std::array{7, 8, 7, 8}));
    rect.SetMargins(1, 2, 3, -999);
    EXPECT_EQ(rect.Right(), 3);
    EXPECT_EQ(rect.Bottom(), -999);
}

TEST(DesignRect, Assign)
{
    TDesignRect target, source;
    source.SetMargins(1, 2, 3, 4);
    source.SetStretchMode(sdmFrame);
    Notifications n;
    n.Attach(target);

    target.Assign(&source);
    EXPECT_EQ(n.count, 1);
    EXPECT_EQ((std::array{target.Left(), target.Top(), target.Right(), target.Bottom()}),
              (std::array{1, 2, 3, 4}));
    EXPECT_EQ(target.StretchMode(), sdmDefault) << "the mode is not copied";

    source.SetStretchMode(sdmFill);
    target.Assign(&source);
    EXPECT_EQ(n.count, 1) << "equal margins: nothing happens";

    target.Assign(nullptr);
    EXPECT_TRUE(target.Empty());
    EXPECT_EQ(n.count, 2);

    QObject other;
    try {
        target.Assign(&other);
        FAIL() << "a plain object cannot be assigned";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.message(), "Cannot assign a QObject to a TDesignRect");
    }
}

TEST(DesignRect, StoredProperties)
{
    TDesignRect rect;
    for (const char* name : {"StretchMode", "Empty", "Left", "Top", "Right", "Bottom"})
        EXPECT_FALSE(rect.IsPropertyStored(name)) << name;
    rect.SetLeft(2);
    rect.SetStretchMode(sdmStretch);
    EXPECT_TRUE(rect.IsPropertyStored("Left"));
    EXPECT_TRUE(rect.IsPropertyStored("StretchMode"));
    EXPECT_FALSE(rect.IsPropertyStored("Empty")) << "never stored";
    EXPECT_FALSE(rect.IsPropertyStored("Top"));
}

TEST(CenterRect, CentresAndOverhangsEvenly)
{
    TRect r;
    CenterRect({10, 20, 110, 60}, {0, 0, 30, 10}, r);
    EXPECT_EQ(r, (TRect{45, 35, 75, 45}));
    // Larger inner rectangle: the division truncates toward zero (-3 div 2 = -1).
    CenterRect({0, 0, 10, 10}, {5, 5, 18, 18}, r);
    EXPECT_EQ(r, (TRect{-1, -1, 12, 12}));
}
