// The test update server as a program of its own, for the Windows tests that run under Wine.
// Usage: vandrel-test-server ROOT [PORT]  (prints the port on its first line)
#include "tests/server/TestHttpServer.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vandrel-test-server ROOT [PORT]\n");
        return 2;
    }
    testutil::TestHttpServer server(argv[1], argc > 2 ? std::atoi(argv[2]) : 0);
    std::printf("%d\n", server.Port());
    std::fflush(stdout);
    server.Wait();
    return 0;
}
