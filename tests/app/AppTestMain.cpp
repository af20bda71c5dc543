// The tool's own application object, so its unhandled-exception point is under test too.
#include "app/TApplication.h"
#include "app/uMain.h"
#include "imaging/TPngImageDataList.h"
#include "support/PrivateRuntimeDir.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::PrivateRuntimeDir runtime;
    imaging::InitializePngSharing(); // as the tool's start-up does
    app::TApplication application(argc, argv);
    // Titled as the tool's entry titles it, so boxes without a caption of their own carry it.
    app::TApplication::setApplicationDisplayName(app::kApplicationTitle);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
