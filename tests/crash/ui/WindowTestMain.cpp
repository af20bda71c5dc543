// Entry of the window tests. Started with the dialog process's hidden argument it is that dialog
// process, as the tool's own executable would be.
#include "crash/ui/DialogProcess.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (const auto code = crash::ui::RunDialogProcessIfAsked(argc, argv, {}))
        return *code;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
