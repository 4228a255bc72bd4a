#include "CommandLine.h"

int main(int argc, char** argv)
{
    return CommandLine::runProgram(argc, argv);
}
