// The operator's recipes, run as the README gives them: the set uploaded with docs/serving/upload.sh,
// served by nginx with docs/serving/nginx-origin.conf, behind a caching proxy configured with
// docs/serving/nginx-cache.conf that caches everything for a day. A publish during a run, and a cache
// that still holds the list before it, never break a run.
#include "support/Misc.h"
#include "tests/native/UpdateFixture.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishSigning.h"
#include "tools/publish/PublishVerify.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

using namespace testutil;

namespace {

const std::string kDone = "Все файлы обновлены";
const std::string kNginx = "/usr/sbin/nginx";

std::string Native(const std::string& path) { return ReplaceAll(path, "\\", "/"); }

std::string Recipe(const std::string& name) { return ReadBytes(std::string(VANDREL_SOURCE_DIR) + "/docs/serving/" + name); }

int FreePort() {
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    close(sock);
    return ntohs(address.sin_port);
}

// nginx with the origin and the cache of the recipes, in a folder of the test's own.
class Nginx {
public:
    Nginx(const std::string& www, const std::string& folder) : originPort_(FreePort()), cachePort_(FreePort()) {
        std::string origin = Recipe("nginx-origin.conf"), cache = Recipe("nginx-cache.conf");
        origin = ReplaceAll(ReplaceAll(origin, "listen 8081", "listen 127.0.0.1:" + std::to_string(originPort_)),
                            "/srv/www", www);
        cache = ReplaceAll(ReplaceAll(cache, "listen 8080", "listen 127.0.0.1:" + std::to_string(cachePort_)),
                           "127.0.0.1:8081", "127.0.0.1:" + std::to_string(originPort_));
        cache = ReplaceAll(cache, "/var/cache/nginx/vandrel", folder + "/cache");
        WriteBytes(folder + "/origin.conf", origin);
        WriteBytes(folder + "/cache.conf", cache);
        WriteBytes(folder + "/nginx.conf",
                   "daemon off; master_process off; pid " + folder + "/nginx.pid; error_log " + folder +
                       "/error.log;\nevents { worker_connections 256; }\nhttp {\n access_log off;\n client_body_temp_path " +
                       folder + "/body; proxy_temp_path " + folder + "/proxy; fastcgi_temp_path " + folder +
                       "/fastcgi; uwsgi_temp_path " + folder + "/uwsgi; scgi_temp_path " + folder + "/scgi;\n include " +
                       folder + "/origin.conf;\n include " + folder + "/cache.conf;\n}\n");
        pid_ = fork();
        if (pid_ == 0) {
            execl(kNginx.c_str(), kNginx.c_str(), "-c", (folder + "/nginx.conf").c_str(), "-p", folder.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        httplib::Client probe("127.0.0.1", cachePort_);
        for (int i = 0; i < 200 && !probe.Get("/"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~Nginx() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    std::string CacheUrl() const { return "http://127.0.0.1:" + std::to_string(cachePort_) + "/update/"; }
    std::string OriginUrl() const { return "http://127.0.0.1:" + std::to_string(originPort_) + "/update/"; }
    // The recipe's purge: the list fetched anew through the cache, which keeps that answer.
    bool RefreshList() const {
        httplib::Client cache("127.0.0.1", cachePort_);
        const auto answer = cache.Get("/update/files.lst.bz2", {{"X-Refresh", "1"}});
        return answer && answer->status == 200;
    }

private:
    int originPort_, cachePort_;
    pid_t pid_ = -1;
};

class CachingProxy : public UpdateFixture {
protected:
    void Put(const std::string& name, const std::string& content) {
        WriteBytes(source / name, content);
        files[name] = content;
    }
    // Published with the operator's commands: into the output folder, then uploaded to the server.
    void PublishAndUpload() {
        publish::Publish(options);
        const std::string command = std::string(VANDREL_SOURCE_DIR) + "/docs/serving/upload.sh " + Native(out.Path()) +
                                    " " + Native(www / "update") + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    void ExpectInstalled(const std::map<std::string, std::string>& expected) {
        EXPECT_EQ(ClosingStatus(), kDone);
        for (const auto& [name, content] : expected) EXPECT_EQ(ReadBytes(Local(name)), content) << name;
    }
    void RunThrough(const Nginx& nginx, unsigned ahead = 8) {
        beforeRun = [&, ahead](GFilesThread& worker) {
            worker.BaseURL = nginx.CacheUrl();
            worker.ListPublicKey = publicKey;
            worker.AheadConnections = ahead;
        };
        RunUpdate();
    }

    TempDir source, out, www, keys, nginxFolder;
    publish::PublishOptions options;
    std::map<std::string, std::string> files;
    std::string publicKey;
};

} // namespace

TEST_F(CachingProxy, APublishDuringARunAndAListTheCacheStillHoldsNeverBreakARun) {
    if (access(kNginx.c_str(), X_OK) != 0) GTEST_SKIP() << "nginx is not installed (scripts/setup installs it)";
    publicKey = publish::GenerateKeyFiles(Native(keys / "k"));
    options.clientDir = Native(source.Path());
    options.outDir = Native(out.Path());
    options.signingKeyFile = Native(keys / "k\\list-signing.key");
    for (const char* name : {"a.dat", "b.dat", "c.dat"}) Put(name, RandomBytes(300000, name[0]));
    PublishAndUpload();
    const std::map<std::string, std::string> first = files;
    Nginx nginx(Native(www.Path()), Native(nginxFolder.Path()));
    EXPECT_TRUE(publish::Verify(nginx.OriginUrl(), "", {}, publicKey).problems.empty()); // the recipe's gate

    // A run that meets the operator's next publish after its first file: the rest of its objects come
    // from the set, which keeps them, and it installs the revision it began with.
    window.onStatus = [&](const std::string& status) {
        if (status != "Загрузка a.dat") return;
        window.onStatus = nullptr;
        for (const char* name : {"a.dat", "b.dat", "c.dat"}) Put(name, RandomBytes(300000, name[0] + 10));
        PublishAndUpload();
    };
    RunThrough(nginx, 0);
    ExpectInstalled(first);

    // The cache still holds the list before: a run finds nothing to do, and fails nothing. Once the
    // list alone is refreshed, the next run takes the new revision from the cache and the origin.
    RunThrough(nginx);
    EXPECT_EQ(ClosingStatus(), "");
    ASSERT_TRUE(nginx.RefreshList());
    RunThrough(nginx);
    ExpectInstalled(files);
}
