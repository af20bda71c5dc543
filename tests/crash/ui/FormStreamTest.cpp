// Form streams: the compiler's nested objects, the reader's result and its safety on broken data.
#include "crash/ui/FormStream.h"
#include "SettingsText.h"
#include "crash/ui/TNVButton.h"
#include "crash/ui/TNVEdit.h"
#include "crash/ui/TNVForm.h"

#include <QFile>
#include <gtest/gtest.h>

using crash::ui::FormObject;
using crash::ui::ReadFormStream;

namespace {

QByteArray Compile(const QString& text)
{
    tools::SettingsTextDocument document;
    QString error;
    EXPECT_TRUE(tools::ParseSettingsText(text, document, error)) << error.toStdString();
    return tools::WriteFormStream(document);
}

std::span<const std::byte> Bytes(const QByteArray& data)
{
    return {reinterpret_cast<const std::byte*>(data.constData()), size_t(data.size())};
}

const QString kForm = QStringLiteral("object Sample: TNVForm\n"
                                     "  Message = 'Hello'\n"
                                     "  Timer = 250\n"
                                     "  object ContinueBtn: INVButton\n"
                                     "    Caption = 'Go on'\n"
                                     "  end\n"
                                     "  object AbortBtn: INVButton\n"
                                     "    Enabled = False\n"
                                     "  end\n"
                                     "  object Memo: INVEdit\n"
                                     "    Lines = 9\n"
                                     "    OutputType = nvoOwnSection\n"
                                     "    Text = utf8'Grüße'\n"
                                     "  end\n"
                                     "end\n");

} // namespace

TEST(FormStream, CompiledFormReadsBackWithItsChildren)
{
    const QByteArray stream = Compile(kForm);
    ASSERT_TRUE(stream.startsWith("TPF0"));
    const auto root = ReadFormStream(Bytes(stream));
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->className, "TNVForm");
    EXPECT_EQ(root->name, "Sample");
    ASSERT_EQ(root->properties.size(), 2);
    EXPECT_EQ(root->properties[1].second.toInt(), 250);
    ASSERT_EQ(root->children.size(), 3);
    EXPECT_EQ(root->children[2].className, "INVEdit");
    EXPECT_EQ(root->children[2].properties[2].second.toString(), QString::fromUtf8("Grüße"));

    crash::ui::TNVForm form(nullptr, "Title", Bytes(stream), 1, 1, nullptr);
    EXPECT_EQ(form.formName(), "Sample");
    EXPECT_EQ(form.message(), "Hello");
    EXPECT_EQ(form.timerPeriod(), 250);
    EXPECT_EQ(form.items().size(), 4u);
    EXPECT_EQ(form.continueButton()->caption(), "Go on");
    EXPECT_FALSE(form.cancelButton()->isEnabled()) << "AbortBtn is the Cancel button";
    ASSERT_NE(form.nvEdit("Memo"), nullptr);
    EXPECT_TRUE(form.nvEdit("Memo")->isMultiLine());
    EXPECT_EQ(form.nvEdit("Memo")->output(), crash::ui::TNVEdit::Output::OwnSection);
    EXPECT_EQ(form.nvButton("Memo"), nullptr) << "lookups check the kind";
    EXPECT_EQ(form.items()[3]->next, form.items()[0].get()) << "the item list is circular";
}

TEST(FormStream, NotAFormLeavesTheThreeButtons)
{
    EXPECT_FALSE(ReadFormStream(Bytes("TPF1xxxx")).has_value());
    crash::ui::TNVForm form(nullptr, "Title", Bytes("garbage"), 1, 1, nullptr);
    ASSERT_EQ(form.items().size(), 3u);
    EXPECT_EQ(form.continueButton()->caption(), "Next >");
    EXPECT_EQ(form.skipButton()->caption(), "Skip");
    EXPECT_EQ(form.cancelButton()->caption(), "Cancel");
    EXPECT_FALSE(form.hasHandler());
}

TEST(FormStream, BrokenStreamsKeepWhatCameBefore)
{
    const QByteArray stream = Compile(kForm);
    for (qsizetype length = 0; length < stream.size(); ++length) {
        const auto root = ReadFormStream(Bytes(stream.left(length)));
        EXPECT_EQ(root.has_value(), length >= 4) << length;
        if (root && length < stream.size() / 2) {
            EXPECT_LE(root->children.size(), 1) << length;
        }
    }
    // An unknown value type ends the reading there.
    QByteArray unknown = stream;
    const qsizetype timer = unknown.indexOf("Timer");
    unknown[timer + 5] = char(99);
    const auto root = ReadFormStream(Bytes(unknown));
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->properties.size(), 1);
    EXPECT_TRUE(root->children.isEmpty());
    // Deep nesting stops instead of recursing without end.
    QByteArray deep("TPF0");
    for (int i = 0; i < 10000; ++i)
        deep += QByteArray("\x01"
                           "A"
                           "\x01"
                           "a"
                           "\x00",
                           5);
    EXPECT_TRUE(ReadFormStream(Bytes(deep)).has_value());
}

TEST(FormStream, ShippedFormsCompile)
{
    for (const char* name : {"ContactForm", "DetailsForm", "ScrShotForm"}) {
        QFile file(qEnvironmentVariable("SKINTOOL_SOURCE_DIR") + "/src/crash/ui/forms/" + name + ".form");
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        const auto root = ReadFormStream(Bytes(Compile(QString::fromUtf8(file.readAll()))));
        ASSERT_TRUE(root.has_value());
        EXPECT_EQ(root->name, name);
    }
}
