#include "tools/publish/PublishCommandLine.h"

#include "support/Hex.h"
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishSigning.h"
#include "tools/publish/PublishVerify.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace publish {

const char* const kUsage =
    "usage: vandrel-publish CLIENT_DIR OUT_DIR [options]\n"
    "       vandrel-publish --verify BASE_URL [INSTALL_DIR] [--public-key KEY] [--mirrors]\n"
    "       vandrel-publish --keygen DIR\n"
    "\n"
    "Publishes the client folder as an update set in OUT_DIR (files.lst.bz2 and one .bz2 payload per\n"
    "file) for a static HTTP server, reusing the payloads of files that did not change.\n"
    "\n"
    "  --critical PATTERN  files that launchers check on every update run (repeatable)\n"
    "  --exclude PATTERN   leave matching files out (repeatable)\n"
    "                      PATTERN: * within a folder name, ** across folders, ? one character;\n"
    "                      without a folder it matches file names anywhere; data/ means the folder\n"
    "  --self NAME         the launcher's exe in the client's root folder, for its self-update\n"
    "  --hosts FILE        hosts entries to publish, one \"address host\" a line\n"
    "  --apply-hosts       make launchers add the hosts entries to the players' hosts file\n"
    "  --rev N             revision to publish (default: one above the published one, and\n"
    "                      unchanged when nothing changed)\n"
    "  --cp1251            allow non-ASCII names; they are written for Windows code page 1251\n"
    "  --threads N         compression threads (default: one per core)\n"
    "  --sign KEY_FILE     sign the list with the secret key from --keygen (files.lst.bz2.sig)\n"
    "  --chunks            also publish large files as chunks (vandrel-chunks/) with a chunk index\n"
    "                      beside each payload, so launchers fetch only what changed in a file\n"
    "  --chunk-min-file SIZE\n"
    "                      the smallest file put into chunks: bytes, or with K, M or G (default 4M,\n"
    "                      at least 1M)\n"
    "  --patches           also publish, for every file that changed, a patch from its earlier\n"
    "                      version(s) to the new one (default with --chunks; --no-patches: none)\n"
    "  --patch-from-revisions N\n"
    "                      patches from the last N versions of each changed file (default 1; needs\n"
    "                      --keep above N, which keeps their payloads)\n"
    "  --mirror URL        a copy of this folder (or of its vandrel-objects/ and vandrel-chunks/) on\n"
    "                      another server or CDN; launchers take objects and chunks from the mirrors\n"
    "                      in the order given, then from the update URL (repeatable, at most 16)\n"
    "  --keep N            lists whose objects and chunks stay in the set: this one and the N - 1\n"
    "                      before it (default 2), so runs that fetched an earlier list still finish\n"
    "  --quiet             no progress display\n"
    "\n"
    "--verify downloads the list and every payload from BASE_URL and checks sizes and digests (and\n"
    "every object, and every chunk index with the chunks it names); with INSTALL_DIR the files are\n"
    "unpacked there and kept. With --public-key (the 64 digits or the file list-signing.pub) the list's\n"
    "signature is checked first, as launchers built with it do. With --mirrors every mirror the list\n"
    "names is checked for every object and chunk too.\n"
    "--keygen writes a new key pair into DIR: list-signing.key (secret, owner only; keep it off the web\n"
    "server) and list-signing.pub (the value for VANDREL_LIST_PUBLIC_KEY).\n";

namespace {

class ProgressLine {
public:
    ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
    ~ProgressLine() { Clear(); }

    void Show(const PublishProgress& state) {
        if (!enabled_) return;
        auto now = Clock::now();
        if (state.stage != stage_) stage_ = state.stage, started_ = now;
        bool finished = state.filesDone == state.filesTotal;
        if (!finished && now - shown_ < std::chrono::milliseconds(100)) return;
        shown_ = now;
        double seconds = std::chrono::duration<double>(now - started_).count();
        char line[160];
        std::snprintf(line, sizeof line, "\r%-11s %zu/%zu files  %.1f/%.1f MiB  %.1f MiB/s   ", state.stage,
                      state.filesDone, state.filesTotal, state.bytesDone / 1048576.0, state.bytesTotal / 1048576.0,
                      seconds > 0 ? state.bytesDone / 1048576.0 / seconds : 0.0);
        err_ << line << std::flush;
        dirty_ = true;
    }
    void Clear() {
        if (dirty_) err_ << "\r" << std::string(79, ' ') << "\r" << std::flush;
        dirty_ = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& err_;
    bool enabled_;
    bool dirty_ = false;
    std::string stage_;
    Clock::time_point started_, shown_;
};

bool ParseCount(const std::string& text, int32_t& value) {
    try {
        value = StrToInt(text);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// A size in bytes, or with a K, M or G suffix (powers of 1024).
bool ParseSize(const std::string& text, uint64_t& value) {
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 12 || text.size() > digits + 1) return false;
    value = std::stoull(text.substr(0, digits));
    if (text.size() == digits) return true;
    const std::string units = "KMG";
    const size_t unit = units.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[digits]))));
    if (unit == std::string::npos) return false;
    const unsigned shift = 10 * static_cast<unsigned>(unit + 1);
    if (value > (UINT64_MAX >> shift)) return false;
    value <<= shift;
    return true;
}

int Usage(std::ostream& err, const std::string& problem) {
    err << "vandrel-publish: " << problem << "\n\n" << kUsage;
    return 2;
}

int RunVerify(std::vector<std::string> args, std::ostream& out, std::ostream& err, bool showProgress) {
    std::string publicKey;
    const auto mirrorsFlag = std::find(args.begin(), args.end(), "--mirrors");
    const bool mirrors = mirrorsFlag != args.end();
    if (mirrors) args.erase(mirrorsFlag);
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] != "--public-key") continue;
        if (i + 1 >= args.size()) return Usage(err, "--public-key needs a value");
        try {
            const TListPublicKey key = LoadPublicKey(args[i + 1]);
            publicKey = ToHex(key.data(), key.size());
        } catch (const std::exception& error) {
            err << "vandrel-publish: " << error.what() << "\n";
            return 1;
        }
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        break;
    }
    if (args.size() < 2 || args.size() > 3) return Usage(err, "--verify takes BASE_URL and an optional INSTALL_DIR");
    ProgressLine line(err, showProgress);
    VerifyReport report = Verify(
        args[1], args.size() == 3 ? args[2] : std::string(),
        [&](size_t done, size_t total, const std::string&) { line.Show({"verifying", done, total, 0, 0}); }, publicKey,
        mirrors);
    line.Clear();
    for (const std::string& problem : report.problems) out << "problem: " << problem << "\n";
    out << "revision " << report.revision << ": " << report.entries << " files checked, " << report.problems.size()
        << (report.problems.size() == 1 ? " problem" : " problems") << "\n";
    return report.problems.empty() ? 0 : 1;
}

int RunKeygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) return Usage(err, "--keygen takes the folder to write the key pair into");
    try {
        const std::string digits = GenerateKeyFiles(args[1]);
        out << "secret key: " << args[1] << "/" << kSecretKeyFileName << " (keep it off the web server)\n"
            << "public key: " << digits << "\n"
            << "build launchers with -DVANDREL_LIST_PUBLIC_KEY=" << digits << "\n";
        return 0;
    } catch (const std::exception& error) {
        err << "vandrel-publish: " << error.what() << "\n";
        return 1;
    }
}

} // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? err : out) << kUsage;
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--verify") return RunVerify(args, out, err, showProgress);
    if (args[0] == "--keygen") return RunKeygen(args, out, err);

    PublishOptions options;
    bool minFileGiven = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool hasValue = false;
        if (name.rfind("--", 0) == 0 && name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        if (name == "--critical" || name == "--exclude" || name == "--self" || name == "--hosts" || name == "--rev" ||
            name == "--threads" || name == "--sign" || name == "--chunk-min-file" || name == "--mirror" ||
            name == "--keep" || name == "--patch-from-revisions") {
            if (!takeValue()) return Usage(err, name + " needs a value");
            int32_t number = 0;
            if (name == "--critical") options.critical.push_back(value);
            if (name == "--exclude") options.exclude.push_back(value);
            if (name == "--self") options.selfName = value;
            if (name == "--hosts") options.hostsFile = value;
            if (name == "--sign") options.signingKeyFile = value;
            if (name == "--mirror") options.mirrors.push_back(value);
            if (name == "--chunk-min-file") {
                if (!ParseSize(value, options.chunkMinFile))
                    return Usage(err, "--chunk-min-file needs a size such as 4M, not \"" + value + "\"");
                if (!ChunkMinFileProblem(options.chunkMinFile).empty())
                    return Usage(err, ChunkMinFileProblem(options.chunkMinFile));
                minFileGiven = true;
            }
            if (name == "--rev" || name == "--threads" || name == "--keep" || name == "--patch-from-revisions") {
                if (!ParseCount(value, number) || number < (name == "--rev" ? 0 : 1))
                    return Usage(err, name + " needs a whole number, not \"" + value + "\"");
                if (name == "--rev") options.revision = number;
                else if (name == "--keep") options.keep = number;
                else if (name == "--patch-from-revisions") options.patchFromRevisions = number;
                else options.threads = static_cast<unsigned>(number);
            }
        } else if (name == "--apply-hosts" && !hasValue) {
            options.modHosts = true;
        } else if (name == "--chunks" && !hasValue) {
            options.chunks = true;
        } else if ((name == "--patches" || name == "--no-patches") && !hasValue) {
            options.patches = name == "--patches";
        } else if (name == "--cp1251" && !hasValue) {
            options.allowCp1251 = true;
        } else if (name == "--quiet" && !hasValue) {
            showProgress = false;
        } else if (name.size() > 1 && name[0] == '-') {
            return Usage(err, "unknown option " + args[i]);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) return Usage(err, "expected CLIENT_DIR and OUT_DIR");
    if (minFileGiven && !options.chunks) return Usage(err, "--chunk-min-file goes with --chunks");
    options.clientDir = positional[0];
    options.outDir = positional[1];

    ProgressLine line(err, showProgress);
    try {
        PublishSummary summary = Publish(options, [&](const PublishProgress& state) { line.Show(state); });
        line.Clear();
        out << (summary.listWritten ? "published revision " : "unchanged, still revision ") << summary.revision << ": "
            << summary.files << " files (" << summary.compressed << " compressed, " << summary.reused << " unchanged, "
            << summary.removed << " removed), " << summary.payloadBytes << " bytes of payloads in " << options.outDir;
        if (options.chunks)
            out << "; " << summary.chunkedFiles << " files in chunks (" << summary.chunksWritten << " chunks written, "
                << summary.chunksReused << " reused, " << summary.chunksRemoved << " removed)";
        if (options.Patches())
            out << "; " << summary.patchedFiles << " files with patches (" << summary.patchesWritten << " written)";
        out << "\n";
        if (!options.chunks && (summary.chunkIndexesRemoved > 0 || summary.chunksRemoved > 0))
            out << "removed " << summary.chunkIndexesRemoved << " chunk indexes and " << summary.chunksRemoved
                << " chunks: this set is published without --chunks\n";
        if (summary.staleSignatureRemoved)
            out << "removed the signature " << names::kListSignature
                << " of the earlier list: this set is published without --sign\n";
        return 0;
    } catch (const std::exception& error) {
        line.Clear();
        err << "vandrel-publish: " << error.what() << "\n";
        return 1;
    }
}

} // namespace publish
