// Latency and throughput of the running program's web service, measured from
// a client on the same machine. Prints its figures; it does not judge them.
//
//   http_bench <port> [requests]
//   http_bench <port> --getss <requests>    only the /getss figure
//
// /next?:  connect to last byte, minus the 20 ms the key is held down;
// /getss:  connect to last byte, minus the 100 ms pause before a capture;
// /:       control pages per second with 8 clients at once, and one page
//          right after 2000 idle connections were opened.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One request; returns the bytes received, or -1.
long Exchange(int port, const std::string& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A reset on close leaves no TIME_WAIT behind, so thousands of requests
    // don't run out of local ports.
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    long total = -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        total = 0;
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            total += n;
        }
    }
    ::close(fd);
    return total;
}

std::string Get(const char* path)
{
    return std::string("GET ") + path + " HTTP/1.1\r\nHost: pc\r\n\r\n";
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

void Latency(int port, const char* name, const std::string& request, int count, double holdMs)
{
    std::vector<double> ms;
    long bytes = 0;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        bytes = Exchange(port, request);
        const auto t1 = Clock::now();
        if (bytes <= 0) {
            std::fprintf(stderr, "%s: request failed\n", name);
            std::exit(1);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count() - holdMs);
    }
    std::printf("%-8s %5d requests, %7ld bytes each: over the %3.0f ms hold p50 %7.3f ms  p90 %7.3f ms  p99 %7.3f ms\n",
                name, count, bytes, holdMs, Percentile(ms, 0.5), Percentile(ms, 0.9), Percentile(ms, 0.99));
}

void Throughput(int port, int clients, double seconds)
{
    std::atomic<long> done{0};
    std::atomic<bool> stop{false};
    const std::string request = Get("/");
    std::vector<std::thread> threads;
    const auto t0 = Clock::now();
    for (int c = 0; c < clients; ++c)
        threads.emplace_back([&] {
            while (!stop)
                if (Exchange(port, request) > 0)
                    ++done;
        });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (auto& t : threads)
        t.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("/        %d clients for %.1f s: %.0f pages per second\n", clients, elapsed, done / elapsed);
}

// A page request made right after `idle` connections were opened and left
// silent: the listener must reach the new one without waiting for a worker
// to start for every idle one first, one toolkit event at a time.
void PageAfterIdleFlood(int port, int idle, int rounds)
{
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        std::vector<int> fds;
        for (int i = 0; i < idle; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                std::fprintf(stderr, "idle flood: connection %d failed\n", i);
                std::exit(1);
            }
            fds.push_back(fd);
        }
        const auto t0 = Clock::now();
        if (Exchange(port, Get("/")) <= 0) {
            std::fprintf(stderr, "idle flood: the page request failed\n");
            std::exit(1);
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        for (int fd : fds)
            ::close(fd);
        // The idle connections' workers end within their 2 s wait.
        std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    std::printf("/        right after %d idle connections, %d rounds: p50 %.1f ms  max %.1f ms\n", idle, rounds,
                Percentile(ms, 0.5), Percentile(ms, 1.0));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: http_bench <port> [requests]\n       http_bench <port> --getss <requests>\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    if (argc > 3 && !std::strcmp(argv[2], "--getss")) {
        Latency(port, "/getss", Get("/getss1765432109"), std::max(1, std::atoi(argv[3])), 100.0);
        return 0;
    }
    const int requests = argc > 2 ? std::atoi(argv[2]) : 1000;
    Latency(port, "/next?", Get("/next?"), requests, 20.0);
    Latency(port, "/getss", Get("/getss1765432109"), std::max(20, requests / 20), 100.0);
    Throughput(port, 8, 5.0);
    PageAfterIdleFlood(port, 2000, 5);
    return 0;
}
