#include "run_driver.h"

int main(int argc, char** argv)
{
    return firmstep::RunFirmstep(argc, argv);
}
