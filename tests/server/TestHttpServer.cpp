#include "tests/server/TestHttpServer.h"

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace testutil {
namespace {
std::string NativePath(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}
} // namespace

TestHttpServer::TestHttpServer(std::string root, int port)
    : root_(NativePath(std::move(root))), server_(std::make_unique<httplib::Server>()) {
    server_->set_keep_alive_max_count(1000);
    server_->Get(R"(/(.*))", [this](const httplib::Request& request, httplib::Response& response) {
        Serve(&request, request.matches[1], &response);
    });
    port_ = port == 0 ? server_->bind_to_any_port("127.0.0.1") : (server_->bind_to_port("127.0.0.1", port) ? port : -1);
    if (port_ <= 0) throw std::runtime_error("test server: cannot bind");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestHttpServer::~TestHttpServer() {
    stopping_ = true;
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

void TestHttpServer::Wait() {
    if (thread_.joinable()) thread_.join();
}

void TestHttpServer::Misbehave(const std::string& urlPath, Misbehaviour how, std::string body) {
    std::lock_guard<std::mutex> guard(lock_);
    rules_[urlPath] = Rule{how, std::move(body)};
}

void TestHttpServer::MisbehaveEverywhere(Misbehaviour how, std::string body) {
    std::lock_guard<std::mutex> guard(lock_);
    everywhere_ = Rule{how, std::move(body)};
}

void TestHttpServer::CutEveryBody(int times, unsigned seed, const std::string& prefix) {
    std::lock_guard<std::mutex> guard(lock_);
    cutTimes_ = times;
    cutPrefix_ = prefix;
    random_.seed(seed);
}

void TestHttpServer::Behave(const std::string& urlPath) {
    std::lock_guard<std::mutex> guard(lock_);
    rules_.erase(urlPath);
}

std::vector<std::string> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void TestHttpServer::ClearRequests() {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.clear();
}

void TestHttpServer::LogRequestsTo(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    logPath_ = path;
}

void TestHttpServer::LogBytesTo(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    bytesLogPath_ = path;
}

void TestHttpServer::Serve(const void* incoming, const std::string& requested, void* out) {
    // The library applies a request's Range to whatever the answer holds; a request whose range is not
    // to be honoured has it taken away here (the request is the library's own, not a constant).
    auto& request = const_cast<httplib::Request&>(*static_cast<const httplib::Request*>(incoming));
    auto& response = *static_cast<httplib::Response*>(out);
    const std::string control = ".control/cutonce/";
    if (requested.compare(0, control.size(), control) == 0) {
        Misbehave(requested.substr(control.size()), Misbehaviour::CutOnce);
        response.set_content("ok", "text/plain");
        return;
    }
    Rule rule{Misbehaviour::ErrorPage, ""};
    bool misbehave = false;
    std::string path = requested;
    for (auto [prefix, how] : {std::pair<std::string, Misbehaviour>{".cut/", Misbehaviour::CutBody},
                               std::pair<std::string, Misbehaviour>{".stall/", Misbehaviour::Stall},
                               std::pair<std::string, Misbehaviour>{".endless/", Misbehaviour::Endless}}) {
        if (path.compare(0, prefix.size(), prefix) == 0) {
            path = path.substr(prefix.size());
            rule = Rule{how, ""};
            misbehave = true;
        }
    }
    for (int waited = 0; waited < delayMs_ && !stopping_; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
        std::lock_guard<std::mutex> guard(lock_);
        requests_.push_back(requested);
        if (!logPath_.empty()) std::ofstream(logPath_, std::ios::app) << requested << '\n';
        auto it = rules_.find(path);
        if (!misbehave && it != rules_.end()) {
            rule = it->second;
            misbehave = true;
            if (rule.how == Misbehaviour::CutOnce) {
                rule.how = Misbehaviour::CutBody;
                rules_.erase(it);
            }
        } else if (!misbehave && everywhere_) {
            rule = *everywhere_;
            misbehave = true;
        }
    }
    const std::string file = root_ + "/" + path;
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    const bool found = !root_.empty() && path.find("..") == std::string::npos && in && !in.fail();
    auto size = found ? static_cast<size_t>(in.tellg()) : 0;

    if (misbehave && rule.how == Misbehaviour::Endless) {
        response.set_chunked_content_provider("application/octet-stream", [this](size_t, httplib::DataSink& sink) {
            const std::string piece(65536, 'v');
            return !stopping_ && sink.write(piece.data(), piece.size());
        });
        return;
    }
    if (misbehave && rule.how == Misbehaviour::WrongBody) {
        response.set_content(rule.body, "application/octet-stream");
        return;
    }
    if (misbehave && rule.how == Misbehaviour::ServerError) {
        response.status = 503;
        response.set_content("<html><body><h1>Service Unavailable</h1></body></html>", "text/html");
        return;
    }
    if (!found || (misbehave && rule.how == Misbehaviour::ErrorPage)) {
        response.status = 404;
        response.set_content("<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>",
                             "text/html");
        return;
    }
    // The file's name for If-Range: its size and when it last changed.
    std::error_code error;
    const auto changed = std::filesystem::last_write_time(file, error).time_since_epoch().count();
    const std::string etag = "\"" + std::to_string(size) + "-" + std::to_string(changed) + "\"";
    response.set_header("ETag", etag);
    if ((misbehave && rule.how == Misbehaviour::IgnoresRange) ||
        (request.has_header("If-Range") && request.get_header_value("If-Range") != etag))
        request.ranges.clear();
    // A range that starts at or past the end is not satisfiable, as real servers answer it (the
    // library would send a 206 with a nonsensical length).
    if (request.ranges.size() == 1 && request.ranges[0].first >= 0 &&
        static_cast<size_t>(request.ranges[0].first) >= size) {
        response.status = 416;
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    bool cut = misbehave && (rule.how == Misbehaviour::CutBody || rule.how == Misbehaviour::Stall);
    const bool stall = misbehave && rule.how == Misbehaviour::Stall;
    const bool trickle = misbehave && rule.how == Misbehaviour::Trickle;
    // Where a cut answer breaks off: half the file, or a random point of what this answer sends.
    size_t cutAt = size / 2;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!misbehave && cutTimes_ > 0 && size > 1 && path.compare(0, cutPrefix_.size(), cutPrefix_) == 0 &&
            cuts_[path] < cutTimes_) {
            ++cuts_[path];
            const size_t from = request.ranges.size() == 1 && request.ranges[0].first > 0
                                    ? static_cast<size_t>(request.ranges[0].first)
                                    : 0;
            if (from + 1 < size) {
                cut = true;
                cutAt = from + 1 + random_() % (size - from - 1);
            }
        }
    }
    auto stream = std::make_shared<std::ifstream>(file, std::ios::binary);
    const bool page = path.size() > 5 && path.compare(path.size() - 5, 5, ".html") == 0;
    response.set_content_provider(
        size, page ? "text/html; charset=utf-8" : "application/octet-stream",
        [this, stream, size, cut, cutAt, stall, trickle, path](size_t offset, size_t, httplib::DataSink& sink) {
            if (cut && offset >= cutAt) {
                if (stall) {
                    for (int i = 0; i < 50 && !stopping_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                return false; // closes the connection mid-body
            }
            char buffer[65536];
            size_t want = sizeof buffer;
            if (trickle) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                want = 4096;
            }
            if (cut && offset + want > cutAt) want = cutAt - offset;
            stream->seekg(static_cast<std::streamoff>(offset));
            stream->read(buffer, static_cast<std::streamsize>(want));
            std::streamsize got = stream->gcount();
            if (got <= 0) return false;
            bytesSent_ += static_cast<uint64_t>(got);
            NoteBytes(path, static_cast<uint64_t>(got));
            return sink.write(buffer, static_cast<size_t>(got));
        });
}

void TestHttpServer::NoteBytes(const std::string& path, uint64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!bytesLogPath_.empty()) std::ofstream(bytesLogPath_, std::ios::app) << path << ' ' << bytes << '\n';
}

} // namespace testutil
