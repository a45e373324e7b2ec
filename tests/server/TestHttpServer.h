// An update server for tests: serves a folder on 127.0.0.1 at a free port, and can misbehave on
// chosen paths the way real servers and networks do.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace testutil {

class TestHttpServer {
public:
    enum class Misbehaviour {
        ErrorPage,    // 404 with an HTML page
        WrongBody,    // 200 with the given body instead of the file
        CutBody,      // announces the whole file, sends half, closes the connection
        Stall,        // sends half, then nothing for a long while, then closes
        Trickle,      // sends the whole file, 4 KiB every 200 ms (a slow but steady link)
        Endless,      // 200 with a body that never ends (no length announced), whether the file exists or not
        CutOnce,      // the first answer is cut as CutBody cuts it; every later one is whole
        IgnoresRange, // answers a request for part of the file with all of it (200), as some servers do
        ServerError,  // 503 with a short page (an overloaded mirror)
    };

    // root is a folder in the launcher's path form; an empty root serves nothing but misbehaviours.
    explicit TestHttpServer(std::string root, int port = 0);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int Port() const { return port_; }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    // urlPath without the leading "/", as in "data/maps/area.dat.bz2". A program in another process
    // (the Windows tests under Wine) asks for a misbehaviour through the path instead: ".cut/P",
    // ".stall/P" and ".endless/P" serve the file P cut short, stalled, or as a body without end, and a
    // request for ".control/cutonce/P" makes the next answer for P a cut one.
    // Files are served with an ETag and honour Range with If-Range.
    void Misbehave(const std::string& urlPath, Misbehaviour how, std::string body = std::string());
    void Behave(const std::string& urlPath);
    // Misbehaves so on every path that has no rule of its own (a mirror that is down in that way).
    void MisbehaveEverywhere(Misbehaviour how, std::string body = std::string());
    // Cuts the first `times` answers for every file under prefix at a random point of what is sent
    // (seeded).
    void CutEveryBody(int times, unsigned seed, const std::string& prefix);
    std::vector<std::string> Requests() const; // url paths in the order asked for
    void ClearRequests();
    // Blocks until the server stops (for the stand-alone server program).
    void Wait();
    // Waits this long before answering any request (a far-away server, a slow run).
    void SetDelay(int milliseconds) { delayMs_ = milliseconds; }
    // Appends every requested path, one a line, to a file that other programs can read.
    void LogRequestsTo(const std::string& path);
    // Appends "PATH BYTES" for every answer, BYTES the body bytes sent, once it is sent.
    void LogBytesTo(const std::string& path);
    // Body bytes sent so far, over every answer.
    uint64_t BytesSent() const { return bytesSent_; }

private:
    struct Rule {
        Misbehaviour how;
        std::string body;
    };
    void Serve(const void* request, const std::string& path, void* response);
    void NoteBytes(const std::string& path, uint64_t bytes);

    std::string root_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex lock_;
    std::map<std::string, Rule> rules_;
    std::optional<Rule> everywhere_;
    int cutTimes_ = 0;
    std::string cutPrefix_;
    std::map<std::string, int> cuts_; // answers cut so far, by path
    std::mt19937 random_;
    std::vector<std::string> requests_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> delayMs_{0};
    std::string logPath_;
    std::string bytesLogPath_;
    std::atomic<uint64_t> bytesSent_{0};
};

} // namespace testutil
