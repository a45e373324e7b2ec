// vandrel-publish: the operator's tool that turns a client folder into the update set the launcher
// downloads, and checks a served set.
#include "tools/publish/PublishCommandLine.h"
#include "tools/publish/Terminal.h"

#include <iostream>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return publish::RunCommandLine(args, std::cout, std::cerr, publish::IsTerminal(2));
}
