#include "CommandLine.h"
#include "ServiceConfig.h"

int main(int argc, char** argv)
{
    return CommandLine::runProgram(argc, argv, ServiceConfig());
}
