#pragma once

// The parts of font_sync_bench that do not talk to the service: its options,
// the reading of the service's start-up lines, the curl configuration of the
// baseline, the statistics and the result table.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavo::bench {

struct SyncBenchOptions {
    long fonts = 10000;   // catalogue fonts granted to the account
    long events = 100;    // web-side activations timed
    bool log = true;      // write the program log as the resident application does
    bool keep = false;    // leave the sandbox root in place
    std::string refservice;  // the tavo-refservice program; empty: the one built with the bench
};

// Parses the command line (argv[0] is skipped). --quick sets 500 fonts and
// 20 events; --fonts and --events given anywhere on the line win over it.
// None, with the reason in error, for an unknown option or a bad number;
// help is set (and none returned) for --help.
std::optional<SyncBenchOptions> parseSyncBenchOptions(const std::vector<std::string>& args, std::string* error,
                                                      bool* help = nullptr);
std::string syncBenchUsage();

// The base addresses tavo-refservice prints when it is ready.
struct ServiceAddresses {
    std::string api;  // "http://127.0.0.1:<port>", without /api/v1
    std::string sse;  // "http://127.0.0.1:<port>", without /notifications
    bool complete() const { return !api.empty() && !sse.empty(); }
};

// Reads one start-up line ("tavo-refservice: delivery API at <url>/api/v1",
// "tavo-refservice: notifications at <url>/notifications") into addresses;
// false for any other line.
bool readServiceLine(const std::string& line, ServiceAddresses& addresses);

// A curl configuration (-K) that sends the headers with every request and
// stores each address in its file, in order.
std::string curlConfig(const std::vector<std::string>& headers,
                       const std::vector<std::pair<std::string, std::string>>& urlsAndOutputs);
// A value of a curl configuration file in double quotes.
std::string curlQuoted(const std::string& value);

// The p-th percentile (0 < p <= 100) by nearest rank; 0 for no samples.
double percentile(std::vector<double> samples, double p);

// One line of the result table. Empty texts print as "-".
struct ResultRow {
    std::string operation;
    std::string time;
    std::string baseline;
    std::string ratio;
    std::string target;
    std::optional<bool> pass;  // none: a plain measurement without a target
};

std::string renderTable(const std::vector<ResultRow>& rows);

// "1.234 s", "12.3 ms", "0.456 ms": seconds in the unit that reads best.
std::string durationText(double seconds);
// "1.23x"
std::string ratioText(double ratio);
// "123.4 MB" for kilobytes (ru_maxrss counts kilobytes on Linux).
std::string megabytesText(long kilobytes);

}  // namespace tavo::bench
