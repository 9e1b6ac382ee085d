#include "devserver/DevServer.h"

#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

void usage()
{
    std::cerr << "usage: tavrel-devserver [--host H] [--port P] [--data-dir DIR] [--cert FILE --key FILE]"
                 " [--throttle BYTES_PER_SEC] [--demo] [--quiet] [--log-file FILE]\n"
                 "  --cert, --key  serve HTTPS with this certificate chain and private key (PEM)\n"
                 "  --throttle     read request bodies and write response bodies no faster than this\n"
                 "  --log-file     append the request log to FILE instead of the terminal\n";
}

} // namespace

int main(int argc, char **argv)
{
    DevServer::Options options;
    options.port = 8765;
    options.logRequests = true;
    bool demo = false;
    std::string logFile;
    std::FILE *failures = stderr;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--host" && hasValue) {
            options.host = argv[++i];
        } else if (argument == "--port" && hasValue) {
            try {
                options.port = std::stoi(argv[++i]);
            } catch (const std::exception &) {
                usage();
                return 2;
            }
        } else if (argument == "--throttle" && hasValue) {
            try {
                options.throttleBytesPerSecond = std::stoll(argv[++i]);
            } catch (const std::exception &) {
                usage();
                return 2;
            }
        } else if (argument == "--data-dir" && hasValue) {
            options.dataDir = argv[++i];
        } else if (argument == "--cert" && hasValue) {
            options.certificateFile = argv[++i];
        } else if (argument == "--key" && hasValue) {
            options.keyFile = argv[++i];
        } else if (argument == "--log-file" && hasValue) {
            logFile = argv[++i];
        } else if (argument == "--quiet") {
            options.logRequests = false;
        } else if (argument == "--demo") {
            demo = true;
        } else if (argument == "--help" || argument == "-h") {
            usage();
            return 0;
        } else {
            usage();
            return 2;
        }
    }

    if (options.certificateFile.empty() != options.keyFile.empty()) {
        std::cerr << "tavrel-devserver: --cert and --key go together\n";
        return 2;
    }
    options.persistMetadata = !options.dataDir.empty();
    // The request log (stderr) goes to the file, so that it does not mix
    // with the output of a program run beside the server in one terminal;
    // failures to start are still said on the terminal.
    if (!logFile.empty()) {
        const int terminal = ::dup(STDERR_FILENO);
        if (!std::freopen(logFile.c_str(), "a", stderr)) {
            const std::string message =
                "tavrel-devserver: cannot write the log file " + logFile + ": " + std::strerror(errno) + "\n";
            if (terminal >= 0 && ::write(terminal, message.data(), message.size()) < 0)
                return 1;
            return 1;
        }
        std::setvbuf(stderr, nullptr, _IOLBF, 0);
        if (terminal >= 0)
            failures = ::fdopen(terminal, "w");
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    try {
        DevServer server(options);
        if (demo)
            server.addUser("demo@tavrel.test", "demo-password", "Demo User", "Tavrel Demo", "Demo", "User");
        server.start();
        std::cout << "TavrelSync development server listening on " << server.baseURL() << std::endl;
        if (demo)
            std::cout << "Demo account: demo@tavrel.test / demo-password" << std::endl;
        while (!stopRequested)
            ::usleep(100 * 1000);
        server.stop();
    } catch (const std::exception &error) {
        std::fprintf(failures, "tavrel-devserver: %s\n", error.what());
        if (failures != stderr)
            std::fprintf(stderr, "tavrel-devserver: %s\n", error.what());
        return 1;
    }
    return 0;
}
