#include "app/SkinToolEntry.h"

#include <QApplication>

namespace app {

int SkinToolMain(int argc, char** argv)
{
    QApplication application(argc, argv);
    return 0;
}

} // namespace app
