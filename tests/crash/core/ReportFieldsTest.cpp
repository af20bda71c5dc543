#include "crash/core/settings/ReportFields.h"

#include <gtest/gtest.h>

using crash::ReportFields;

namespace {

QStringList Names(const ReportFields& f)
{
    QStringList names;
    for (const auto& item : f.items())
        names.append(item.first);
    return names;
}

} // namespace

TEST(ReportFields, IgnoresDataUntilAccepting)
{
    ReportFields f;
    f.setField(QStringLiteral("a"), QStringLiteral("1"));
    EXPECT_EQ(f.count(), 0);
    f.setAcceptingData(true);
    f.setField(QStringLiteral("a"), QStringLiteral("1"));
    EXPECT_EQ(f.count(), 1);
}

TEST(ReportFields, TrimsUpdatesInPlaceAndRemovesOnEmpty)
{
    ReportFields f;
    f.setAcceptingData(true);
    int changes = 0;
    f.setChangeHandler([&] { ++changes; });
    f.setField(QStringLiteral("a"), QStringLiteral("  one \r\n"));
    f.setField(QStringLiteral("b"), QStringLiteral("two"));
    f.setField(QStringLiteral("a"), QStringLiteral("uno"));
    EXPECT_EQ(Names(f), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(f.field(QStringLiteral("a")), QStringLiteral("uno"));
    f.setField(QStringLiteral("a"), QStringLiteral("uno")); // no change, no event
    f.setField(QStringLiteral("a"), QStringLiteral("   "));
    EXPECT_FALSE(f.contains(QStringLiteral("a")));
    f.setField(QStringLiteral("never"), QString());
    EXPECT_EQ(f.count(), 1);
    EXPECT_EQ(changes, 4);
}

TEST(ReportFields, NewNamesGoInFrontOfTheAddIndexInOrder)
{
    ReportFields f;
    f.setAcceptingData(true);
    for (const char* name : {"date/time", "executable", "Halvorn version", "callstack crc"})
        f.setField(QLatin1String(name), QStringLiteral("x"));
    f.setAddIndex(2); // before "Halvorn version"
    f.setField(QStringLiteral("first added"), QStringLiteral("1"));
    f.setField(QStringLiteral("second added"), QStringLiteral("2"));
    EXPECT_EQ(Names(f), (QStringList{QStringLiteral("date/time"), QStringLiteral("executable"),
                                     QStringLiteral("first added"), QStringLiteral("second added"),
                                     QStringLiteral("Halvorn version"), QStringLiteral("callstack crc")}));
    EXPECT_EQ(f.addIndex(), 4);
    f.setField(QStringLiteral("date/time"), QString()); // removing before it moves it back
    EXPECT_EQ(f.addIndex(), 3);
    f.setField(QStringLiteral("third added"), QStringLiteral("3"));
    EXPECT_EQ(Names(f).indexOf(QStringLiteral("third added")), 3);
    EXPECT_EQ(Names(f).indexOf(QStringLiteral("Halvorn version")), 4);
}
