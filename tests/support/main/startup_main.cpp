// startup_main.cpp - main of the library's test programs: the library's start-up runs first,
// exactly as when libdib.so is loaded.
#include <gtest/gtest.h>
#include <startup/startup.h>

int main(int argc, char** argv)
{
    dib::Startup();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
