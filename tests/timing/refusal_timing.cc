// refusal_timing.cc: the samples, over real connections through tcpserver.
#include "refusal_timing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

#include "large_store.h"
#include "tcp_service.h"
#include "temp_dir.h"

namespace timing {

namespace {

using clock_type = std::chrono::steady_clock;
using test_support::line_client;

constexpr const char *GREETING = "200 zembrovald v1.1.2 hello, who are you?\r\n";
constexpr const char *PASS_PLEASE = "200 Your password please.\r\n";
constexpr const char *REFUSED = "500 Old password is incorrect or user not found.\r\n";
constexpr std::chrono::milliseconds REPLY_TIMEOUT{30000};
// Every refused run pauses 3 s after its reply; a cap high enough that the
// pausing ones never keep the next sample from being accepted.
constexpr const char *CONNECTION_CAP = "400";

double percentile(const std::vector<double> &sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const double place = fraction * static_cast<double>(sorted.size() - 1);
    const auto below = static_cast<std::size_t>(place);
    const std::size_t above = std::min(below + 1, sorted.size() - 1);
    return sorted[below] + (sorted[above] - sorted[below]) * (place - static_cast<double>(below));
}

// One refused login; the time from the pass line's send to the refusal.
// Negative, with fault set, when a reply was not the expected one.
double one_sample(int port, const std::string &name, std::string &fault) {
    line_client client(port);
    if (!client.connected() || client.read_line(REPLY_TIMEOUT) != GREETING) {
        fault = "no greeting";
        return -1;
    }
    client.send("user " + name + "\r\n");
    if (client.read_line(REPLY_TIMEOUT) != PASS_PLEASE) {
        fault = "no password prompt for " + name;
        return -1;
    }
    const auto start = clock_type::now();
    client.send("pass not-the-password\r\n");
    const std::string reply = client.read_line(REPLY_TIMEOUT);
    const auto end = clock_type::now();
    if (reply != REFUSED) {
        fault = "for " + name + " the reply was \"" + reply + "\"";
        return -1;
    }
    return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace

timing_result time_refusals(const timing_plan &plan) {
    timing_result result;
    const std::size_t last = plan.accounts - 1;
    const std::vector<placed_account> placed = {
        {0, "first", "first-password"},
        {plan.accounts / 2, "middle", "middle-password"},
        {last, "last", "last-password"},
    };
    const std::string names[PROBE_COUNT] = {"absent", "first", "middle", "last"};
    const char *what[PROBE_COUNT] = {"unknown name", "wrong password, first account",
                                     "wrong password, middle account",
                                     "wrong password, last account"};
    for (std::size_t p = 0; p < PROBE_COUNT; ++p) {
        result.probes[p].what = what[p];
    }
    const large_store store(plan.accounts, placed);
    if (!store.ok()) {
        result.unavailable = "cannot write the store";
        return result;
    }
    const test_support::temp_dir logs("ztl");
    test_support::tcpserver_process server({plan.program}, {store.config_env()},
                                           logs.file("stderr"), {"-c", CONNECTION_CAP});
    if (!server.unavailable().empty()) {
        result.unavailable = server.unavailable();
        return result;
    }
    std::mt19937 random(plan.seed);
    std::array<std::size_t, PROBE_COUNT> order{0, 1, 2, 3};
    // One unmeasured round first: the first runs pay for cold caches.
    for (std::size_t round = 0; round <= plan.samples; ++round) {
        std::shuffle(order.begin(), order.end(), random);
        std::array<double, PROBE_COUNT> taken{};
        bool whole = true;
        for (const std::size_t p : order) {
            std::string fault;
            taken[p] = one_sample(server.port(), names[p], fault);
            if (taken[p] < 0) {
                result.faults.push_back(fault);
                whole = false;
            }
        }
        // A round counts whole or not at all, so that the samples of one
        // index were taken together.
        for (std::size_t p = 0; round > 0 && whole && p < PROBE_COUNT; ++p) {
            result.probes[p].samples_ms.push_back(taken[p]);
        }
    }
    for (probe_figures &probe : result.probes) {
        std::vector<double> sorted = probe.samples_ms;
        std::sort(sorted.begin(), sorted.end());
        probe.median_ms = percentile(sorted, 0.5);
        probe.p10_ms = percentile(sorted, 0.1);
        probe.p90_ms = percentile(sorted, 0.9);
    }
    return result;
}

double median_paired_ratio(const std::vector<double> &a, const std::vector<double> &b) {
    if (a.size() != b.size() || a.empty()) {
        return 0;
    }
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ratios.push_back(a[i] / b[i]);
    }
    std::sort(ratios.begin(), ratios.end());
    return percentile(ratios, 0.5);
}

double rank_sum_z(const std::vector<double> &a, const std::vector<double> &b) {
    struct ranked {
        double value;
        bool from_a;
    };
    std::vector<ranked> all;
    for (const double v : a) {
        all.push_back({v, true});
    }
    for (const double v : b) {
        all.push_back({v, false});
    }
    std::sort(all.begin(), all.end(),
              [](const ranked &x, const ranked &y) { return x.value < y.value; });
    double rank_sum_a = 0;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j < all.size() && all[j].value == all[i].value) {
            ++j;
        }
        // Ties share the mean of their ranks (1-based).
        const double rank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2.0;
        for (std::size_t k = i; k < j; ++k) {
            if (all[k].from_a) {
                rank_sum_a += rank;
            }
        }
        i = j;
    }
    const auto n1 = static_cast<double>(a.size());
    const auto n2 = static_cast<double>(b.size());
    if (n1 == 0 || n2 == 0) {
        return 0;
    }
    const double u = rank_sum_a - n1 * (n1 + 1) / 2.0;
    const double mean = n1 * n2 / 2.0;
    const double deviation = std::sqrt(n1 * n2 * (n1 + n2 + 1) / 12.0);
    return (u - mean) / deviation;
}

} // namespace timing
