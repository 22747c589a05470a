// vorma-product-server --root DIR --port N [--host ADDRESS] [--account NAME --password TEXT]
//                      [--fail OPERATION=RESULT ...] [--delay OPERATION=MILLISECONDS ...]
//
// The stand-in product server. It answers the SOAP operations Login, GetAppConfig and Logoff from
// the configuration section files below DIR (the section "Environment\Config\SNMP_MANAGER" is
// DIR/Environment/Config/SNMP_MANAGER.ini), listening on ADDRESS (127.0.0.1 unless given) and port
// N (0: any free port). --delay makes an operation answer that many milliseconds late. Its first
// line on standard output is "listening on ADDRESS:PORT"; then it writes one line per request.
// SIGTERM or SIGINT stop it cleanly (exit code 0).
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Text.h"
#include "product/server/ProductServer.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int) {
    g_stop.store(true);
}

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "vorma-product-server: %s\n"
                 "usage: vorma-product-server --root DIR --port N [--host ADDRESS]\n"
                 "       [--account NAME --password TEXT] [--fail OPERATION=RESULT ...]\n"
                 "       [--delay OPERATION=MILLISECONDS ...]\n"
                 "  OPERATION: Login, GetAppConfig or Logoff\n"
                 "  RESULT: 2 or 12 (a fault with its detail), 1 (a client fault), -1 (close\n"
                 "          without an answer), reset (reset the connection), or any other\n"
                 "          number (the result the helper library gives for the call)\n",
                 problem);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    static_assert(std::atomic<bool>::is_always_lock_free);
    platform::InitProcessLocale();
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string root;
    std::string host = "127.0.0.1";
    std::string account;
    std::string password;
    bool hasAccount = false;
    int port = -1;
    std::vector<std::string> failures;
    std::vector<std::string> delays;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i + 1 >= args.size()) {
            return Usage(("missing value after " + arg).c_str());
        }
        const std::string& value = args[++i];
        if (arg == "--root") {
            root = value;
        } else if (arg == "--host") {
            host = value;
        } else if (arg == "--port") {
            try {
                std::size_t used = 0;
                port = std::stoi(value, &used);
                if (used != value.size() || port < 0 || port > 65535) {
                    port = -1;
                }
            } catch (const std::exception&) {
                port = -1;
            }
            if (port < 0) {
                return Usage("the port must be a number from 0 to 65535");
            }
        } else if (arg == "--account") {
            account = value;
            hasAccount = true;
        } else if (arg == "--password") {
            password = value;
        } else if (arg == "--fail") {
            failures.push_back(value);
        } else if (arg == "--delay") {
            delays.push_back(value);
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    std::error_code ec;
    if (root.empty() || !std::filesystem::is_directory(root, ec)) {
        return Usage("--root must name an existing folder");
    }
    if (port < 0) {
        return Usage("--port is missing");
    }

    CProductServer server{std::filesystem::path(root)};
    if (hasAccount) {
        server.Store().RequireAccount(account, password);
    }
    for (const std::string& failure : failures) {
        if (!server.SetFailure(failure)) {
            return Usage(("bad --fail " + failure).c_str());
        }
    }
    for (const std::string& delay : delays) {
        if (!server.SetDelay(delay)) {
            return Usage(("bad --delay " + delay).c_str());
        }
    }
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);

    std::uint16_t boundPort = 0;
    if (int error = server.Bind(host, port, &boundPort); error != 0) {
        std::fprintf(stderr, "vorma-product-server: cannot listen on %s:%d (gSOAP error %d)\n",
                     host.c_str(), port, error);
        return 1;
    }
    std::printf("listening on %s:%u\n", host.c_str(), static_cast<unsigned>(boundPort));
    std::fflush(stdout);
    server.Serve(g_stop);
    std::printf("stopped\n");
    return 0;
}
