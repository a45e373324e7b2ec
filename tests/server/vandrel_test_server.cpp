// The test update server as a program of its own, for the Windows tests that run under Wine.
// Usage: vandrel-test-server ROOT [PORT] [--log FILE] [--bytes-log FILE] [--delay-ms N] [--cut-once PATH]
//   (prints the port on its first line)
//   --log FILE        append every requested path to FILE
//   --bytes-log FILE  append "PATH BYTES" for the body bytes of every piece sent
//   --delay-ms N      wait N milliseconds before answering each request
//   --cut-once PATH   cut the first answer for PATH (as "data/a.bz2") at half the file
//   --cut-every-body N  cut the first N answers for every object and chunk at random points
//   --refuse-all      answer every request with 503 (a mirror that is down)
#include "tests/server/TestHttpServer.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    std::string root, log, bytesLog, cutOnce;
    int port = 0, delay = 0, cutTimes = 0;
    bool refuseAll = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--log" && i + 1 < argc) {
            log = argv[++i];
        } else if (arg == "--bytes-log" && i + 1 < argc) {
            bytesLog = argv[++i];
        } else if (arg == "--cut-once" && i + 1 < argc) {
            cutOnce = argv[++i];
        } else if (arg == "--cut-every-body" && i + 1 < argc) {
            cutTimes = std::atoi(argv[++i]);
        } else if (arg == "--refuse-all") {
            refuseAll = true;
        } else if (arg == "--delay-ms" && i + 1 < argc) {
            delay = std::atoi(argv[++i]);
        } else if (root.empty()) {
            root = arg;
        } else {
            port = std::atoi(argv[i]);
        }
    }
    if (root.empty()) {
        std::fprintf(stderr, "usage: vandrel-test-server ROOT [PORT] [--log FILE] [--delay-ms N]\n");
        return 2;
    }
    testutil::TestHttpServer server(root, port);
    if (!log.empty()) server.LogRequestsTo(log);
    if (!bytesLog.empty()) server.LogBytesTo(bytesLog);
    if (!cutOnce.empty()) server.Misbehave(cutOnce, testutil::TestHttpServer::Misbehaviour::CutOnce);
    if (cutTimes > 0) server.CutEveryBody(cutTimes, 12345, "vandrel-"); // objects and chunks
    if (refuseAll) server.MisbehaveEverywhere(testutil::TestHttpServer::Misbehaviour::ServerError);
    server.SetDelay(delay);
    std::printf("%d\n", server.Port());
    std::fflush(stdout);
    server.Wait();
    return 0;
}
