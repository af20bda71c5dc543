#include "app/SkinToolEntry.h"

int main(int argc, char** argv)
{
    return app::SkinToolMain(argc, argv);
}
