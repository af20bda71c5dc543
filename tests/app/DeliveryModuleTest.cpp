#include "app/DeliveryModule.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

// Opening the module only; the delivery through it is the send-report window test's.
TEST(DeliveryModule, AModuleThatCannotServeIsNamedInTheError)
{
    testsupport::TempDir dir;
    const QString notALibrary = dir.write(QStringLiteral("skintool_delivery.so"), "not a library");
    struct Case
    {
        QString path;
        QString errorMentions;
    };
    for (const Case& c : {Case{dir.file(QStringLiteral("missing.so")), QStringLiteral("missing.so")},
                          Case{notALibrary, QStringLiteral("skintool_delivery.so")},
                          // a library without the send function, one every Qt program has loaded
                          Case{QStringLiteral("libz.so.1"), QStringLiteral("has no send function")}}) {
        QString error;
        EXPECT_EQ(app::OpenDeliveryModule(c.path, &error), nullptr) << c.path.toStdString();
        EXPECT_TRUE(error.contains(c.errorMentions)) << error.toStdString();
    }
}
