// The override layer of one exception and the exception-class filters.
#include "crash/core/settings/ExceptionSettings.h"
#include "support/MessageBoxRecorder.h"
#include "TestModuleLoader.h"
#include "platform/Exception.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <stdexcept>

using crash::ExceptionSettings;
using crash::ExceptionType;

namespace {

class EDBEditError : public platform::Exception
{
public:
    using platform::Exception::Exception;
    QString className() const override { return QStringLiteral("EDBEditError"); }
};

class EMaskedFieldError : public EDBEditError
{
public:
    using EDBEditError::EDBEditError;
};

namespace inner {
struct Mixin
{
    virtual ~Mixin() = default;
};
class EDeepError : public std::runtime_error, public Mixin
{
public:
    EDeepError() : std::runtime_error("deep") {}
};
} // namespace inner

template <typename E>
ExceptionSettings For(const E& e, platform::ModuleHandle module = 0, const QString& message = {})
{
    return ExceptionSettings(module, ExceptionType::Exception, crash::ExceptionClassChain(typeid(e)), {},
                             message.isNull() ? QString::fromUtf8(e.what()) : message);
}

QString ExecutableName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

class ExceptionSettingsTest : public ::testing::Test
{
protected:
    void TearDown() override { crash::RegisterMainSettings(nullptr); }
    testsupport::MessageBoxRecorder boxes;
};

} // namespace

TEST_F(ExceptionSettingsTest, ClassChainNamesEveryBaseWithoutNamespaces)
{
    const QStringList chain = crash::ExceptionClassChain(typeid(EMaskedFieldError));
    EXPECT_EQ(chain.first(), QStringLiteral("EMaskedFieldError"));
    EXPECT_TRUE(chain.contains(QStringLiteral("EDBEditError")));
    EXPECT_TRUE(chain.contains(QStringLiteral("Exception")));
    EXPECT_TRUE(chain.contains(QStringLiteral("platform::Exception")));
    EXPECT_TRUE(chain.contains(QStringLiteral("exception")));

    const QStringList deep = crash::ExceptionClassChain(typeid(inner::EDeepError));
    for (const char* name : {"EDeepError", "runtime_error", "exception", "Mixin"})
        EXPECT_TRUE(deep.contains(QLatin1String(name))) << name;

    EXPECT_TRUE(crash::ClassListMatches(QStringLiteral("Foo, edbediterror"), chain));
    EXPECT_TRUE(crash::ClassListMatches(QStringLiteral("platform::Exception"), chain));
    EXPECT_FALSE(crash::ClassListMatches(QStringLiteral("EDBEdit,Error,, "), chain));
    EXPECT_FALSE(crash::ClassListMatches(QString(), chain));
}

TEST_F(ExceptionSettingsTest, ProgramShowsEditErrorsAsAPlainMessage)
{
    for (const bool derived : {false, true}) {
        SCOPED_TRACE(derived);
        const ExceptionSettings e = derived ? For(EMaskedFieldError(QStringLiteral("bad mask")))
                                            : For(EDBEditError(QStringLiteral("bad value")));
        const auto& f = e.filterResult();
        EXPECT_EQ(f.group, 1);
        EXPECT_EQ(f.presentation, 3);
        EXPECT_FALSE(f.buildReport);
        EXPECT_FALSE(f.takeScreenshot);
        EXPECT_FALSE(f.callHandlers);
        EXPECT_FALSE(e.PauseThreads());
    }
    const ExceptionSettings other = For(std::runtime_error("disk full"));
    const auto& f = other.filterResult();
    EXPECT_EQ(f.group, 0);
    EXPECT_EQ(f.presentation, 0);
    EXPECT_TRUE(f.buildReport);
    EXPECT_TRUE(f.takeScreenshot); // ScrShotDepth 8
    EXPECT_TRUE(f.callHandlers);
}

TEST_F(ExceptionSettingsTest, FirstMatchingFilterWinsAndDecidesThreadSuspension)
{
    crashtest::TestModule module;
    ASSERT_TRUE(module.load()) << module.library.errorString().toStdString();
    const platform::ModuleHandle lib = module.handle();

    // The library lists EDBEditError under F1 and F2; F1 is asked first.
    const ExceptionSettings edit = For(EDBEditError(QStringLiteral("x")), lib);
    EXPECT_EQ(edit.filterResult().group, 1);
    EXPECT_TRUE(edit.PauseThreads()); // F1NoSuspend is off there
    // F2: logic_error and what derives from it; F2NoSuspend is false, so PauseThreads stays on.
    const ExceptionSettings logic = For(std::invalid_argument("arg"), lib);
    EXPECT_EQ(logic.filterResult().group, 2);
    EXPECT_EQ(logic.filterResult().presentation, 1);
    EXPECT_EQ(logic.filterResult().assistant, QStringLiteral("SaveAssistant"));
    EXPECT_FALSE(logic.filterResult().takeScreenshot); // ScrShotDepth 0 there
    EXPECT_TRUE(logic.PauseThreads());
    // Gn: GnNoSuspend switches suspension off for this exception.
    const ExceptionSettings other = For(std::runtime_error("r"), lib);
    EXPECT_EQ(other.filterResult().group, 0);
    EXPECT_EQ(other.filterResult().presentation, 2);
    EXPECT_FALSE(other.PauseThreads());

    EXPECT_TRUE(crash::CrashSettings(lib).PauseThreads()); // the module's own reading is untouched
}

TEST_F(ExceptionSettingsTest, OverridesOfOneExceptionAreInvisibleElsewhere)
{
    ExceptionSettings e = For(std::runtime_error("r"));
    ASSERT_TRUE(e.setPauseThreads(true));
    EXPECT_TRUE(e.PauseThreads());
    EXPECT_FALSE(crash::CrashSettings(0).PauseThreads());
    EXPECT_FALSE(For(std::runtime_error("r")).PauseThreads());
}

TEST_F(ExceptionSettingsTest, ExceptionPlaceholdersAreFilledOnce)
{
    const ExceptionSettings e = For(EDBEditError(QStringLiteral("value %appname% at %date%")), 0,
                                    QStringLiteral("value %appname% at %date%"));
    EXPECT_EQ(e.expandPlaceholders(QStringLiteral("%exceptClass%: %exceptMsg% in %appname%")),
              QStringLiteral("EDBEditError: value %appname% at %date% in ") + ExecutableName());
    EXPECT_EQ(e.BugTrTitle(), ExecutableName() + QStringLiteral(", value %appname% at %date%"));

    const ExceptionSettings silent = For(std::runtime_error(""));
    EXPECT_EQ(silent.expandPlaceholders(QStringLiteral("%exceptMsg%")), QStringLiteral("Unknown"));
    EXPECT_EQ(silent.expandPlaceholders(QStringLiteral("%exceptClass%")), QStringLiteral("runtime_error"));

    // %errorDetails% needs the exception's field list.
    EXPECT_EQ(silent.expandPlaceholders(QStringLiteral("%errorDetails%")), QStringLiteral("%errorDetails%"));
    ExceptionSettings detailed = For(std::runtime_error("d"));
    auto fields = std::make_shared<crash::ReportFields>();
    fields->setAcceptingData(true);
    detailed.setDetailsFields(fields);
    EXPECT_EQ(detailed.BugTrDescr(), QStringLiteral("error details: \r\n"));
    fields->setField(QStringLiteral("Error Details"), QStringLiteral("clicked Make twice"));
    EXPECT_EQ(detailed.BugTrDescr(), QStringLiteral("error details: \r\nclicked Make twice"));
}

TEST_F(ExceptionSettingsTest, FreezeIsReportedAsEFrozenWithTheFrozenMessage)
{
    const ExceptionSettings freeze(0, ExceptionType::Freeze, {}, {}, {});
    EXPECT_EQ(freeze.exceptionClass(), QStringLiteral("EFrozen"));
    EXPECT_EQ(freeze.exceptionMessage(), QStringLiteral("The application seems to be frozen."));
    EXPECT_EQ(freeze.expandPlaceholders(QStringLiteral("%exceptClass%: %exceptMsg%")),
              QStringLiteral("EFrozen: The application seems to be frozen."));
    EXPECT_EQ(freeze.filterResult().group, 0);
}

TEST_F(ExceptionSettingsTest, ExceptionOfAModuleFallsBackToDefaultsNotToTheMainSettings)
{
    crashtest::TestModule module;
    ASSERT_TRUE(module.load());
    crash::RegisterMainSettings(std::make_shared<crash::CrashSettings>(0));
    const ExceptionSettings e = For(std::runtime_error("r"), module.handle());
    EXPECT_EQ(e.SmtpPort(), 587);       // the governing module's own
    EXPECT_EQ(e.MailAddr(), QString()); // not the main settings' address
    EXPECT_EQ(crash::CrashSettings(module.handle()).MailAddr(), QStringLiteral("support@mirelune.example"));
}
